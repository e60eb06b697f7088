--TEST--
fatal: null as an output holder
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__hexing(null, new_mopra__StrHolder(), 0);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of mopra__hexing. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 3
