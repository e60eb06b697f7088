--TEST--
fatal: the first failing argument raises, later ones are not looked at
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__hexing(new_mopra__StrHolder(), 5, null);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 2 of mopra__hexing. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 3
