--TEST--
module: the pooled allocator starts at the first container and stops once at process exit
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "before\n";
$v = new_std__vectorT_int_t(3);
echo std__vectorT_int_t_size($v), "\n";
--EXPECTF--
before
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
3
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x
