s2f41w
{
	<a'START'>
	{
		{
			<a'LOT'>
			<a'L-0042'>
		}
		{
			<a'COUNT'>
			<u4 25>
		}
	}
}
