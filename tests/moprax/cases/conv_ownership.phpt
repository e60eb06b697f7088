--TEST--
conventions: owned flags, _cPtr objects, resources made and kept
--EXTENSIONS--
MopraX
--FILE--
<?php
$s = new_mopra__StrHolder();
var_dump(swig_MopraX_get_newobject($s));
$v = new_std__vectorT_mopra__StrHolder_t(2);
$e = std__vectorT_mopra__StrHolder_t_get($v, 1);
var_dump(swig_MopraX_get_newobject($v), swig_MopraX_get_newobject($e));
var_dump(swig_MopraX_alter_newobject($s, false));
var_dump(swig_MopraX_get_newobject($s));
swig_MopraX_alter_newobject($s, "yes");
var_dump(swig_MopraX_get_newobject($s));
swig_MopraX_alter_newobject($s, 0);
var_dump(swig_MopraX_get_newobject($s));
swig_MopraX_alter_newobject($s, 1);
// a record born borrowed reports the flag but never deletes the element
swig_MopraX_alter_newobject($e, true);
var_dump(swig_MopraX_get_newobject($e));
mopra__StrHolder_value_set($e, "inside");
unset($e);
$e2 = std__vectorT_mopra__StrHolder_t_get($v, 1);
var_dump(mopra__StrHolder_value_get($e2));
$p = std__vectorT_mopra__StrHolder_t_pop($v);
var_dump(swig_MopraX_get_newobject($p), mopra__StrHolder_value_get($p));
echo "-- _cPtr objects are accepted wherever their resource is\n";
class Wrapped { public $_cPtr; function __construct($r) { $this->_cPtr = $r; } }
$w = new Wrapped(new_mopra__StrHolder());
mopra__StrHolder_value_set($w, "via object");
$out = new Wrapped(new_mopra__StrHolder());
var_dump(mopra__hexing($out, $w, 0), mopra__StrHolder_value_get($out->_cPtr));
var_dump(swig_MopraX_get_newobject($w));
$ref = new stdClass();
$r = new_std__vectorT_int_t();
$ref->_cPtr = &$r;
std__vectorT_int_t_push($ref, 9);
var_dump(std__vectorT_int_t_get($r, 0));
echo "-- a resource made by a function is a new one each time\n";
$a = new_mopra__IntegralHolder();
$b = new_mopra__IntegralHolder();
mopra__IntegralHolder_value_set($a, 1);
mopra__IntegralHolder_value_set($b, 2);
var_dump(mopra__IntegralHolder_value_get($a), mopra__IntegralHolder_value_get($b));
--EXPECTF--
int(1)
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
int(1)
int(0)
NULL
int(0)
int(1)
int(0)
int(1)
string(6) "inside"
int(1)
string(6) "inside"
-- _cPtr objects are accepted wherever their resource is
int(0)
string(20) "766961206f626a656374"
int(1)
int(9)
-- a resource made by a function is a new one each time
int(1)
int(2)
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x
