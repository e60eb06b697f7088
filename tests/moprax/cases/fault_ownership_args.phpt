--TEST--
faults: the ownership functions accept only the module's object resources; a borrowed record never deletes
--EXTENSIONS--
MopraX
--FILE--
<?php
$v = new_std__vectorT_mopra__StrHolder_t(3);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
swig_MopraX_alter_newobject($e, true);
var_dump(swig_MopraX_get_newobject($e));
unset($e);  // must not delete the element inside the vector
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
swig_MopraX_alter_newobject($e, 1);
unset($e);
var_dump(std__vectorT_mopra__StrHolder_t_size($v));
std__vectorT_mopra__StrHolder_t_clear($v);
$o = new stdClass();
$o->_cPtr = new_mopra__IntegralHolder();
var_dump(swig_MopraX_get_newobject($o));
swig_MopraX_alter_newobject($o, false);
var_dump(swig_MopraX_get_newobject($o->_cPtr));
swig_MopraX_alter_newobject($o, true);
echo "-- foreign resource\n";
swig_MopraX_get_newobject(fopen('php://memory', 'r'));
--EXPECTF--
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
int(1)
int(3)
int(1)
int(0)
-- foreign resource

Fatal error: Type error in argument 1 of swig_MopraX_get_newobject. Expected a MopraX object resource in %s on line 19
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x
