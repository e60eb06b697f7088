--TEST--
fatal: get_newobject with null
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
swig_MopraX_get_newobject(null);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of swig_MopraX_get_newobject. Expected a MopraX object resource in %s on line 3
