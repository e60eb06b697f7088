--TEST--
fatal: alter_newobject with a foreign resource
--EXTENSIONS--
MopraX
--FILE--
<?php
echo "start\n";
swig_MopraX_alter_newobject(fopen('php://memory', 'r'), true);
echo "not reached\n";
--EXPECTF--
start

Fatal error: Type error in argument 1 of swig_MopraX_alter_newobject. Expected a MopraX object resource in %s on line 3
