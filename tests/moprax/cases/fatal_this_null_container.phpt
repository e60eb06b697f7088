--TEST--
fatal: null as the container of a container function
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
std__vectorT_int_t_size(null);
echo "not reached\n";
--EXPECTF--
start

Fatal error: this pointer is NULL in %s on line 3
