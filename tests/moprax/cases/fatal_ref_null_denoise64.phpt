--TEST--
fatal: null as an output IntegralHolder
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__denoise64(null, new_mopra__StrHolder(), 0);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of mopra__denoise64. Expected SWIGTYPE_p_mopra__IntegralHolder in %s on line 3
