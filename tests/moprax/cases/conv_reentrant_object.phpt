--TEST--
conversion runs PHP code: an object argument outlives the code that drops its last reference
--EXTENSIONS--
MopraX
--FILE--
<?php
// A string whose conversion runs $fn first.
class Str {
    function __construct(public $fn, public string $s) {}
    function __toString(): string { ($this->fn)(); return $this->s; }
}
function wrap($r) { $w = new stdClass(); $w->_cPtr = $r; return $w; }
function holder($value) { $h = new_mopra__StrHolder(); mopra__StrHolder_value_set($h, $value); return $h; }
$fn = null;
set_error_handler(function ($no, $msg) use (&$fn) { echo "  handler: $msg\n"; $fn(); return true; });

echo "-- __toString\n";
$w = wrap(holder("old"));
$other = holder("other");
mopra__StrHolder_value_set($w, new Str(function () use ($w, $other) { $w->_cPtr = $other; },
                                       str_repeat("new", 40)));
var_dump(mopra__StrHolder_value_get($other));
$m = wrap(new_std__mapT_int_std__string_t());
std__mapT_int_std__string_t_set($m, 7, new Str(function () use ($m) { $m->_cPtr = null; }, "seven"));
$v = wrap(new_std__vectorT_std__string_t());
std__vectorT_std__string_t_push($v, new Str(function () use ($v) { unset($v->_cPtr); }, "pushed"));
$h = wrap(new_mopra__OpHandleHolder());
mopra__OpHandleHolder_setAuth($h, new Str(function () use ($h) { $h->_cPtr = 1; }, "auth"));
var_dump($m->_cPtr, isset($v->_cPtr), $h->_cPtr);

echo "-- error handler\n";
$w = wrap(holder("abc"));
$fn = function () use ($w) { $w->_cPtr = null; };
mopra__StrHolder_packI32($w, new stdClass());
$in = wrap(holder("abc"));
$out = wrap(new_mopra__StrHolder());
$fn = function () use ($in, $out) { $in->_cPtr = null; $out->_cPtr = null; };
var_dump(mopra__hexing($in, $out, new stdClass()));
$list = new_std__vectorT_std__string_t();
std__vectorT_std__string_t_push($list, "one");
$lw = wrap($list);
unset($list);
$ser = holder("");
$fn = function () use ($lw) { $lw->_cPtr = null; };
var_dump(mopra__serialize($ser, $lw, new stdClass()), mopra__StrHolder_getLength($ser));
$i = wrap(new_mopra__IntegralHolder());
$fn = function () use ($i) { $i->_cPtr = null; };
mopra__IntegralHolder_error_set($i, new stdClass());
echo "done\n";
--EXPECTF--
-- __toString
string(5) "other"
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
NULL
bool(false)
int(1)
-- error handler
  handler: Object of class stdClass could not be converted to int
  handler: Object of class stdClass could not be converted to int
int(0)
  handler: Object of class stdClass could not be converted to int
int(0)
int(11)
  handler: Object of class stdClass could not be converted to int
done
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x
