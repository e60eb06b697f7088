--TEST--
fatal: an object whose _cPtr holds another type
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
$o = new stdClass(); $o->_cPtr = new_mopra__IntegralHolder();
mopra__StrHolder_getLength($o);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of mopra__StrHolder_getLength. Expected SWIGTYPE_p_mopra__StrHolder in %s on line 4
