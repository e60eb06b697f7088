--TEST--
conventions: exceptions of the operations become PHP Exceptions with codes -4, -3 and -1
--EXTENSIONS--
MopraX
--FILE--
<?php
function attempt($what, $f) {
    try {
        $r = $f();
        echo "$what: no exception, ", var_export($r, true), "\n";
    } catch (Exception $e) {
        echo "$what: ", get_class($e), " ", $e->getCode(), " ", $e->getMessage(), "\n";
    }
}
$v = new_std__vectorT_int_t();
attempt("pop empty", fn() => std__vectorT_int_t_pop($v));
attempt("get -1", fn() => std__vectorT_int_t_get($v, -1));
attempt("set 0", fn() => std__vectorT_int_t_set($v, 0, 5));
attempt("reserve -1", fn() => std__vectorT_int_t_reserve($v, -1));
attempt("new huge", fn() => new_std__vectorT_int_t(-1));
$m = new_std__mapT_std__string_int_t();
attempt("map get", fn() => std__mapT_std__string_int_t_get($m, "k"));
attempt("map del", fn() => std__mapT_std__string_int_t_del($m, "k"));
$o = new_mopra__OpHandleHolder();
foreach (['getAuth', 'getFwseq', 'getReason', 'getSeq', 'getSession', 'getSource'] as $g)
    attempt($g, fn() => ("mopra__OpHandleHolder_$g")($o));
// the function gives no value and the script goes on in its catch block
$r = "unset";
try {
    $r = std__vectorT_int_t_pop($v);
} catch (Exception $e) {
    echo "caught, r is still ", $r, "\n";
}
var_dump(std__vectorT_int_t_size($v), std__mapT_std__string_int_t_size($m));
--EXPECT--
pop empty: Exception -4 pop from empty vector
get -1: Exception -4 vector index out of range
set 0: Exception -4 vector index out of range
reserve -1: Exception -3 vector::reserve
new huge: Exception -3 cannot create std::vector larger than max_size()
map get: Exception -4 key not found
map del: Exception -4 key not found
getAuth: Exception -3 mopra__AutoPtr: null pointer
getFwseq: Exception -3 mopra__AutoPtr: null pointer
getReason: Exception -3 mopra__AutoPtr: null pointer
getSeq: Exception -3 mopra__AutoPtr: null pointer
getSession: Exception -3 mopra__AutoPtr: null pointer
getSource: Exception -3 mopra__AutoPtr: null pointer
caught, r is still unset
int(0)
int(0)
