--TEST--
fatal: a resource that is no longer live
--FILE--
<?php
echo "start\n";
$f = fopen('php://memory', 'r'); fclose($f);
mopra__StrHolder_getLength($f);
echo "not reached\n";
--EXPECT--
start

Fatal error: Type error in argument 1 of mopra__StrHolder_getLength. Expected SWIGTYPE_p_mopra__StrHolder in %FILE% on line 4
