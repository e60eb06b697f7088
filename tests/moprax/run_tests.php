<?php
// Runs phpt-style cases against the built MopraX extension, each in its own php process
// (a fatal error ends a script), and prints "N passed, N failed".
//
// usage: php run_tests.php <path to MopraX.so> <case file or directory>...
// A case file holds the sections --TEST-- (one line), --FILE-- (the script) and either
// --EXPECT-- (the exact output) or --EXPECTF-- (the output with %s: any text on one line,
// %d: digits, %i: an optionally signed integer, %a: any text). White space at the ends of
// the output and the expectation is ignored, and so are the pooled allocator's start and stop
// lines unless the case expects them (%FILE% stands for the script's path). PHP_BINARY runs the cases with -n, the extension
// and display_errors on standard output; the environment is passed on (USE_ZEND_ALLOC,
// LD_PRELOAD and the sanitizer options of run_asan.sh, and MOPRAX_PHP_WRAPPER, a command
// put in front of php, e.g. valgrind; for the cases that expect a fatal error
// MOPRAX_FATAL_WRAPPER in its place and MOPRAX_FATAL_ENV, NAME=value settings: the engine
// leaks memory of its own when a fatal error ends the request with its allocator off).
if ($argc < 3) {
    fwrite(STDERR, "usage: php run_tests.php <MopraX.so> <case|dir>...\n");
    exit(2);
}
$ext = $argv[1];
$files = [];
foreach (array_slice($argv, 2) as $p) {
    if (is_dir($p)) {
        $found = glob(rtrim($p, '/') . '/*.phpt');
        sort($found);
        $files = array_merge($files, $found);
    } else {
        $files[] = $p;
    }
}

function sections(string $text): array {
    $out = [];
    $name = null;
    foreach (preg_split('/(?<=\n)/', $text) as $line) {
        if (preg_match('/^--([A-Z]+)--\s*$/', $line, $m)) {
            $name = $m[1];
            $out[$name] = '';
        } elseif ($name !== null) {
            $out[$name] .= $line;
        }
    }
    return $out;
}

function expectf_regex(string $expect): string {
    $re = preg_quote($expect, '/');
    $re = strtr($re, [
        '%s' => '[^\r\n]*',
        '%d' => '\d+',
        '%i' => '[+-]?\d+',
        '%a' => '.*',
    ]);
    return '/^' . $re . '$/s';
}

$wrapper = getenv('MOPRAX_PHP_WRAPPER') ?: '';
$fatal_env = getenv('MOPRAX_FATAL_ENV') ?: '';
$fatal_wrapper = getenv('MOPRAX_FATAL_WRAPPER') ?: '';
$passed = 0;
$failed = 0;
$tmp = sys_get_temp_dir() . '/moprax-phpt-' . getmypid();
@mkdir($tmp);
foreach ($files as $file) {
    $s = sections(file_get_contents($file));
    $title = trim($s['TEST'] ?? basename($file));
    if (!isset($s['FILE'])) {
        echo "FAIL $title: no --FILE-- section ($file)\n";
        $failed++;
        continue;
    }
    $script = $tmp . '/' . basename($file, '.phpt') . '.php';
    file_put_contents($script, $s['FILE']);
    $expected = ($s['EXPECT'] ?? '') . ($s['EXPECTF'] ?? '');
    $fatal = strpos($expected, 'Fatal error:') !== false;
    $w = $fatal && $fatal_wrapper !== '' ? $fatal_wrapper : $wrapper;
    $prefix = $w !== '' ? $w . ' ' : '';
    if ($fatal && $fatal_env !== '') $prefix = 'env ' . $fatal_env . ' ' . $prefix;
    $cmd = $prefix . escapeshellarg(PHP_BINARY)
        . ' -n -d extension=' . escapeshellarg($ext)
        . ' -d display_errors=1 -d display_startup_errors=1 -d log_errors=0'
        . ' -d html_errors=0 -d error_reporting=-1 ' . escapeshellarg($script) . ' 2>&1';
    $output = shell_exec($cmd) ?? '';
    $output = str_replace($script, '%FILE%', $output);
    // The pooled allocator's own start and stop lines (C stdio, flushed at its own pace):
    // dropped unless the case expects them.
    if (strpos(($s['EXPECT'] ?? '') . ($s['EXPECTF'] ?? ''), 'xallocator') === false) {
        $output = preg_replace('/(un)?init xallocator 0x[0-9a-f]+ \n/', '', $output);
    }
    $actual = trim($output);
    if (isset($s['EXPECT'])) {
        $ok = $actual === trim($s['EXPECT']);
        $expect = trim($s['EXPECT']);
    } else {
        $expect = trim($s['EXPECTF'] ?? '');
        $ok = preg_match(expectf_regex($expect), $actual) === 1;
    }
    if ($ok) {
        $passed++;
        echo "PASS $title\n";
    } else {
        $failed++;
        echo "FAIL $title ($file)\n--- expected\n$expect\n--- actual\n$actual\n---\n";
    }
    @unlink($script);
}
@rmdir($tmp);
echo "$passed passed, $failed failed\n";
exit($failed === 0 && $passed > 0 ? 0 : 1);
