--TEST--
fatal: a scalar where a holder is expected
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__StrHolder_packI8("abc", 1);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of mopra__StrHolder_packI8. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 3
