--TEST--
fatal: null as the container of a container function
--FILE--
<?php
echo "start\n";
std__vectorT_int_t_size(null);
echo "not reached\n";
--EXPECT--
start

Fatal error: this pointer is NULL in %FILE% on line 3
