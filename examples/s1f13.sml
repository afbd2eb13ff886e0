s1f13w
{
	<a'TOVIK'>
	<a'0.1.0'>
}
