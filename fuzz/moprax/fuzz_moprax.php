<?php
// One fuzzing process for the MopraX extension: a random sequence of calls over every
// function the extension registers (get_extension_funcs), driven by a seed.
//
// usage: php -d extension=MopraX.so fuzz_moprax.php <seed> <calls> <hostile 0|1> [types file]
//
// Arguments are drawn at random: integers (small and boundary), floats, numeric and other
// strings with NUL bytes, null, booleans, arrays, plain objects (their integer conversion
// warns), the resources made by earlier calls, objects whose "_cPtr" holds one, and borrowed
// holder elements; the count is sometimes off by one. Every resource a call returns goes into
// the pool for later calls. The types file (one "function position resource-type" line each)
// is what earlier processes learnt from their fatal type errors ("*": any of the module's
// resources): an object position then gets
// a resource of its type most of the time, so a process gets further than its first fatal.
// A process starts with one resource from every constructor.
//
// Hostile mode: some string arguments are objects whose __toString, and the error handler
// (run for the warnings of integer and string conversion), disturb the call that converts
// them: drop the last reference to pooled resources, clear or replace "_cPtr" properties,
// push into, pop, clear or reserve the holder vectors, reassign or share the byte-buffer
// arguments, flip ownership, call the module again, or throw.
//
// A fatal error of the module ends the process; that is an expected outcome. The shutdown
// function prints "calls N" and appends what the fatal message taught to the types file.
// Crashes and sanitizer reports are what the driver (run.sh) looks for.

if ($argc < 4) {
    fwrite(STDERR, "usage: php fuzz_moprax.php <seed> <calls> <hostile 0|1> [types file]\n");
    exit(2);
}
$SEED = (int)$argv[1];
$CALLS = (int)$argv[2];
$HOSTILE = (int)$argv[3] !== 0;
$TYPES_FILE = $argv[4] ?? '';
mt_srand($SEED);

$FUNCS = get_extension_funcs('MopraX');
if (!$FUNCS) {
    fwrite(STDERR, "MopraX is not loaded\n");
    exit(2);
}
$NARGS = [];
foreach ($FUNCS as $f) $NARGS[$f] = (new ReflectionFunction($f))->getNumberOfParameters();

// Learnt expected types: $EXPECT[function][position] = resource type name.
$EXPECT = [];
if ($TYPES_FILE !== '' && is_file($TYPES_FILE)) {
    foreach (file($TYPES_FILE, FILE_IGNORE_NEW_LINES | FILE_SKIP_EMPTY_LINES) as $line) {
        $p = explode(' ', $line);
        if (count($p) === 3) $EXPECT[$p[0]][(int)$p[1]] = $p[2];
    }
}

$POOL = [];      // resource type name => list of resources
$WRAPS = [];     // objects whose _cPtr holds a resource
$A = [];         // the arguments of the current call (passed as variables)
$SHARED = [];    // copies of argument values made by the hostile code
$DONE = 0;       // calls made
$DEPTH = 0;      // nesting of hostile code
$LAST_CTOR = null;  // the last constructor called with one argument, and its kind
$DISOWNED = [];  // resources whose owned flag the calls cleared

function rnd(int $n): int { return mt_rand(0, $n - 1); }
function chance(int $percent): bool { return mt_rand(0, 99) < $percent; }

function pool_add($v): void {
    global $POOL;
    if (!is_resource($v)) return;
    $t = get_resource_type($v);
    $POOL[$t][] = $v;
    if (count($POOL[$t]) > 24) array_splice($POOL[$t], rnd(24), 1);
}

function pool_pick(?string $type) {
    global $POOL;
    if ($type === null) {
        if (!$POOL) return null;
        $type = array_rand($POOL);
    }
    if (empty($POOL[$type])) return null;
    return $POOL[$type][array_rand($POOL[$type])];
}

function rand_string(): string {
    $n = [0, 1, 2, 3, 4, 7, 8, 16, 33, 64, 255][rnd(11)];
    if (chance(10)) $n = rnd(600);
    $s = '';
    for ($i = 0; $i < $n; $i++) $s .= chance(70) ? chr(rnd(256)) : "\0";
    return $s;
}

function rand_int(): int {
    if (chance(80)) return mt_rand(-3, 300);
    return [-1, -2147483648, PHP_INT_MIN, PHP_INT_MAX, 255, 256, 65535][rnd(7)];
}

class Hostile {
    public string $s;
    public function __construct() { $this->s = rand_string(); }
    public function __toString(): string {
        mischief('toString');
        return $this->s;
    }
}

// What hostile code does while a conversion runs.
function mischief(string $where): void {
    global $POOL, $WRAPS, $A, $SHARED, $DEPTH, $FUNCS;
    if ($DEPTH > 2) return;
    $DEPTH++;
    $steps = 1 + rnd(3);
    for ($k = 0; $k < $steps; $k++) {
        switch (rnd(9)) {
            case 0:  // drop resources from the pool (and their wrappers' references)
                if ($POOL) {
                    $t = array_rand($POOL);
                    if (chance(50)) $POOL[$t] = []; else if ($POOL[$t]) array_pop($POOL[$t]);
                }
                break;
            case 1:  // clear or replace "_cPtr" properties
                foreach ($WRAPS as $w) {
                    if (chance(60)) $w->_cPtr = chance(50) ? null : pool_pick(null);
                }
                break;
            case 2:  // resize the holder vectors
                foreach ($POOL['_p_std__vectorT_mopra__StrHolder_t'] ?? [] as $v) {
                    switch (rnd(4)) {
                        case 0:
                            if (std__vectorT_mopra__StrHolder_t_size($v) < 2000)
                                for ($i = rnd(60); $i > 0; $i--)
                                    std__vectorT_mopra__StrHolder_t_push($v, new_mopra__StrHolder());
                            break;
                        case 1: std__vectorT_mopra__StrHolder_t_clear($v); break;
                        case 2:
                            try { std__vectorT_mopra__StrHolder_t_pop($v); } catch (Exception $e) {}
                            break;
                        case 3: std__vectorT_mopra__StrHolder_t_reserve($v, rnd(5000)); break;
                    }
                }
                break;
            case 3:  // reassign the arguments (byte buffers among them)
                foreach ($A as $i => $_) {
                    if (chance(50)) $A[$i] = chance(50) ? rand_string() : rnd(100);
                }
                break;
            case 4:  // share the arguments' values
                foreach ($A as $i => $v) $SHARED[] = $v;
                if (count($SHARED) > 32) $SHARED = [];
                break;
            case 5:  // drop the shared copies
                $SHARED = [];
                break;
            case 6:  // flip ownership of a pooled resource
                $r = pool_pick(null);
                if ($r !== null) {
                    swig_MopraX_alter_newobject($r, chance(50));
                    disowned($r);
                }
                break;
            case 7:  // call the module again
                one_call(false);
                break;
            case 8:
                if (chance(30)) { $DEPTH--; throw new Exception("hostile $where"); }
                break;
        }
    }
    $DEPTH--;
}

function rand_scalar() {
    global $HOSTILE;
    switch (rnd(14)) {
        case 0: case 1: case 2: case 3: return rand_int();
        case 4: case 5: case 6: return rand_string();
        case 7: return (string)rand_int();
        case 8: return [1.5, -2.9, 1e20, NAN, INF, 0.0][rnd(6)];
        case 9: return chance(50);
        case 10: return null;
        case 11: return chance(50) ? [] : [1, 'a'];
        case 12: return $HOSTILE ? new Hostile() : new stdClass();
        default: return $HOSTILE && chance(50) ? new Hostile() : new stdClass();
    }
}

// An object argument: a pooled resource of the type, a wrapper around one, or a borrowed
// element of a pooled holder vector.
function rand_object(?string $type) {
    global $WRAPS;
    if ($type === '_p_mopra__StrHolder' && chance(30)) {
        $v = pool_pick('_p_std__vectorT_mopra__StrHolder_t');
        if ($v !== null && std__vectorT_mopra__StrHolder_t_size($v) > 0) {
            try {
                $e = std__vectorT_mopra__StrHolder_t_get(
                    $v, rnd(std__vectorT_mopra__StrHolder_t_size($v)));
                pool_add($e);
                return $e;
            } catch (Exception $x) {}
        }
    }
    $r = pool_pick($type === '*' ? null : $type);
    if ($r === null && $type !== null && $type !== '*') {
        // The pool lost its last one of the type (hostile code drops them): make one.
        $ctor = 'new_' . strtolower(substr($type, 3));
        if (function_exists($ctor)) {
            $r = $ctor();
            pool_add($r);
        }
    }
    if ($r === null) return rand_scalar();
    if (chance(25)) {
        $w = new stdClass();
        $w->_cPtr = $r;
        $WRAPS[] = $w;
        if (count($WRAPS) > 16) array_shift($WRAPS);
        return $w;
    }
    return $r;
}

// The pooled type whose name is $lc in lower case (without "_p_"), or null.
function type_named(string $lc): ?string {
    global $POOL;
    foreach (array_keys($POOL) as $t) if (strtolower(substr($t, 3)) === $lc) return $t;
    return null;
}

function rand_arg(string $f, int $pos) {
    global $EXPECT;
    $type = $EXPECT[$f][$pos] ?? null;
    if ($type !== null && $type[0] === '!') $type = null;
    if ($type !== null && mt_rand(0, 999) < 996) return rand_object($type);
    if (chance(20)) return rand_object(null);
    return rand_scalar();
}

function one_call(bool $top): void {
    global $FUNCS, $NARGS, $A, $DONE;
    $f = $FUNCS[rnd(count($FUNCS))];
    // Constructors first while the pool is thin.
    if ($top && chance(25)) {
        $ctors = array_values(array_filter($FUNCS, fn($n) => strncmp($n, 'new_', 4) === 0));
        $f = $ctors[rnd(count($ctors))];
    }
    $n = $NARGS[$f];
    if (chance(2)) $n += chance(50) ? 1 : -1;
    $ctor = strncmp($f, 'new_', 4) === 0;
    if ($ctor && $n > 0 && chance(70)) $n = 0;
    if ($n < 0) $n = 0;
    $saved = $A;
    $A = [];
    if ($ctor && $n === 1) {
        // A constructor's one argument: a count or one of its own kind, whichever has not
        // been refused before.
        global $EXPECT, $LAST_CTOR;
        $kind = chance(50) ? 'int' : 'own';
        if (($EXPECT[$f][1] ?? '') === "!$kind") $kind = $kind === 'int' ? 'own' : 'int';
        if (chance(3)) $kind = 'any';
        $LAST_CTOR = [$f, $kind];
        $A[0] = $kind === 'int' ? mt_rand(0, 20)
              : ($kind === 'own' ? rand_object(type_named(substr($f, 4))) : rand_arg($f, 1));
    } else {
        for ($i = 0; $i < $n; $i++) $A[$i] = rand_arg($f, $i + 1);
    }
    $DONE++;
    try {
        switch ($n) {
            case 0: $r = $f(); break;
            case 1: $r = $f($A[0]); break;
            case 2: $r = $f($A[0], $A[1]); break;
            case 3: $r = $f($A[0], $A[1], $A[2]); break;
            case 4: $r = $f($A[0], $A[1], $A[2], $A[3]); break;
            case 5: $r = $f($A[0], $A[1], $A[2], $A[3], $A[4]); break;
            default: $r = $f($A[0], $A[1], $A[2], $A[3], $A[4], $A[5]); break;
        }
        pool_add($r);
        if (stripos($f, 'alter_newobject') !== false && $n === 2) disowned($A[0]);
    } catch (Throwable $e) {
    }
    if (!$top) $A = $saved;
}

// A resource whose object the script took over (owned flag 0) would leak its object: kept
// here and owned again at the end, so that the leak check sees only the module's leaks.
function disowned($r): void {
    global $DISOWNED;
    if (is_object($r)) $r = $r->_cPtr ?? null;
    if (is_resource($r) && swig_MopraX_get_newobject($r) === 0) $DISOWNED[] = $r;
}

register_shutdown_function(function () {
    global $DONE, $TYPES_FILE, $EXPECT, $LAST_CTOR, $DISOWNED;
    foreach ($DISOWNED as $r) {
        if (is_resource($r)) swig_MopraX_alter_newobject($r, true);
    }
    echo "calls $DONE\n";
    $e = error_get_last();
    if ($e === null || $TYPES_FILE === '') return;
    if (preg_match('/^Type error in argument (\d+) of (\S+)\. Expected SWIGTYPE(_p_\w+)/',
                   $e['message'], $m)) {
        $f = strtolower($m[2]);
        if (!isset($EXPECT[$f][(int)$m[1]]))
            file_put_contents($TYPES_FILE, "$f {$m[1]} {$m[3]}\n", FILE_APPEND | LOCK_EX);
    } elseif (preg_match("/^No matching function for overloaded '(\\w+)'/", $e['message'], $m)) {
        [$f, $kind] = $LAST_CTOR ?? ['', ''];
        if ($f === strtolower($m[1]) && $kind !== 'any' && !isset($EXPECT[$f][1]))
            file_put_contents($TYPES_FILE, "$f 1 !$kind\n", FILE_APPEND | LOCK_EX);
    } elseif (preg_match('/^Type error in argument (\d+) of (\S+)\. Expected a MopraX object/',
                         $e['message'], $m)) {
        if (!isset($EXPECT[$m[2]][(int)$m[1]]))
            file_put_contents($TYPES_FILE, "{$m[2]} {$m[1]} *\n", FILE_APPEND | LOCK_EX);
    }
});

if ($HOSTILE) {
    set_error_handler(function (int $no, string $msg) {
        mischief('handler');
        return true;
    });
}

// One resource of every type a constructor makes; the first argument of a function whose
// name starts with a type's name (as registered, in lower case) is taken to be of that type
// until a fatal message says otherwise.
foreach ($FUNCS as $f) {
    if (strncmp($f, 'new_', 4) === 0) pool_add($f());
}
foreach (array_keys($POOL) as $t) {
    $prefix = strtolower(substr($t, 3)) . '_';
    foreach ($FUNCS as $f) {
        if (strncmp($f, $prefix, strlen($prefix)) === 0 && !isset($EXPECT[$f][1]))
            $EXPECT[$f][1] = $t;
    }
}

for ($c = 0; $c < $CALLS; $c++) one_call(true);
