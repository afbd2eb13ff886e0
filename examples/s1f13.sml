s1f13w
{
	<a'TOVIK'>
	<a'2.50'>
}
