--TEST--
fatal: null as the keyspace output
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
mopra__decode_i64_to_i32_by_keyspace1(null, 1, 2);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of mopra__decode_i64_to_i32_by_keyspace1. Expected SWIGTYPE_p_mopra__IntegralHolder in %s on line 3
