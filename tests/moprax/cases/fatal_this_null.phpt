--TEST--
fatal: null as the object of a member function
--FILE--
<?php
echo "start\n";
mopra__StrHolder_packI8(null, 1);
echo "not reached\n";
--EXPECT--
start

Fatal error: this pointer is NULL in %FILE% on line 3
