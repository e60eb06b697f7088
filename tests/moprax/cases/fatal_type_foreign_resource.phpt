--TEST--
fatal: a resource of another extension
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
$s = new_mopra__StrHolder();
mopra__StrHolder_unpackI8($s, fopen('php://memory', 'r'), true);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 2 of mopra__StrHolder_unpackI8. Expected SWIGTYPE_p_mopra__IntegralHolder in %s on line 4
