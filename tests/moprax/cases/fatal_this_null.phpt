--TEST--
fatal: null as the object of a member function
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__StrHolder_packI8(null, 1);
echo "not reached\n";
--EXPECTF--
start

Fatal error: this pointer is NULL in %s on line 3
