--TEST--
fatal: an object without _cPtr
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__StrHolder_getLength(new stdClass());
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of mopra__StrHolder_getLength. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 3
