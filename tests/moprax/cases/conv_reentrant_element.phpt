--TEST--
conversion runs PHP code: a borrowed element is looked up after the last conversion
--EXTENSIONS--
MopraX
--FILE--
<?php
// A string whose conversion runs $fn first.
class Str {
    function __construct(public $fn, public string $s) {}
    function __toString(): string { ($this->fn)(); return $this->s; }
}
function holders($n) {
    $v = new_std__vectorT_mopra__StrHolder_t();
    for ($i = 0; $i < $n; $i++) std__vectorT_mopra__StrHolder_t_push($v, new_mopra__StrHolder());
    return $v;
}
function grow($v) { for ($i = 0; $i < 200; $i++) std__vectorT_mopra__StrHolder_t_push($v, new_mopra__StrHolder()); }
function show($what, $call) {
    try {
        $r = $call();
        echo "$what: ", var_export($r, true), "\n";
    } catch (Exception $e) {
        echo "$what: ", $e->getCode(), " ", $e->getMessage(), "\n";
    }
}
$fn = null;
set_error_handler(function ($no, $msg) use (&$fn) { $fn(); return true; });

echo "-- __toString\n";
$v = holders(1);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
show("grown", fn () => mopra__StrHolder_value_set($e, new Str(fn () => grow($v), str_repeat("x", 50))));
show("element", fn () => strlen(mopra__StrHolder_value_get(std__vectorT_mopra__StrHolder_t_get($v, 0))));
show("cleared", fn () => mopra__StrHolder_value_set($e, new Str(
    fn () => std__vectorT_mopra__StrHolder_t_clear($v), "lost")));
show("size", fn () => std__vectorT_mopra__StrHolder_t_size($v));
$v = holders(1);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
show("popped", fn () => mopra__StrHolder_packStr($e, new Str(
    fn () => std__vectorT_mopra__StrHolder_t_pop($v), "lost")));
$v = holders(1);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
show("vector variable dropped", fn () => mopra__StrHolder_value_set($e, new Str(function () {
    unset($GLOBALS['v']);
}, "kept")));
show("element", fn () => mopra__StrHolder_value_get($e));

echo "-- error handler\n";
$v = holders(1);
$e = std__vectorT_mopra__StrHolder_t_get($v, 0);
$fn = fn () => grow($v);
show("grown", fn () => mopra__StrHolder_packI8($e, new stdClass()));
show("length", fn () => mopra__StrHolder_getLength($e));
$fn = fn () => std__vectorT_mopra__StrHolder_t_clear($v);
show("cleared", fn () => mopra__StrHolder_cursor_set($e, new stdClass()));
$v = holders(3);
$e = std__vectorT_mopra__StrHolder_t_get($v, 2);
mopra__StrHolder_value_set($e, "abc");
$out = new_mopra__StrHolder();
$fn = fn () => grow($v);
show("input, grown", fn () => mopra__hexing($out, $e, new stdClass()));
show("output", fn () => mopra__StrHolder_value_get($out));
mopra__StrHolder_value_set($out, "");
$fn = fn () => std__vectorT_mopra__StrHolder_t_clear($v);
show("input, cleared", fn () => mopra__hexing($out, $e, new stdClass()));
show("output", fn () => mopra__StrHolder_value_get($out));
--EXPECTF--
-- __toString
init xallocator 0x%x 
init xallocator 0x%x 
init xallocator 0x%x 
grown: NULL
element: 50
cleared: -4 vector index out of range
size: 0
popped: -4 vector index out of range
vector variable dropped: NULL
element: 'kept'
-- error handler
grown: NULL
length: 1
cleared: -4 vector index out of range
input, grown: 0
output: '616263'
input, cleared: -4 vector index out of range
output: ''
uninit xallocator 0x%x 
uninit xallocator 0x%x 
uninit xallocator 0x%x
