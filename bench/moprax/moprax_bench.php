<?php
// MopraX benchmark: the convention layer's per-call cost and the hex / Base64 codecs on
// 1 KiB values, each against PHP's own built-in in the same process, as ratios.
// run: php -n -d extension=<build>/MopraX.so bench/moprax/moprax_bench.php [calls]
// Each figure is the best of 5 rounds of `calls` calls (default 100000); the loop's own
// cost (an empty loop of the same length) is taken off every figure.
$calls = (int)($argv[1] ?? 100000);
$rounds = 5;

function best(callable $round, int $rounds): float {
    $best = INF;
    for ($r = 0; $r < $rounds; $r++) {
        $t = hrtime(true);
        $round();
        $best = min($best, hrtime(true) - $t);
    }
    return $best;
}

$s = str_repeat("x", 100);
$kib = random_bytes(1024);
$h = new_mopra__StrHolder();
mopra__StrHolder_value_set($h, $s);
$in = new_mopra__StrHolder();
mopra__StrHolder_value_set($in, $kib);
$out = new_mopra__StrHolder();
$strlen = 'strlen';

$empty = best(function () use ($calls) { for ($i = 0; $i < $calls; $i++) { } }, $rounds);
$cases = [
    'strlen (compiled to an opcode)' => function () use ($calls, $s) { for ($i = 0; $i < $calls; $i++) strlen($s); },
    'strlen (function call)' => function () use ($calls, $s, $strlen) { for ($i = 0; $i < $calls; $i++) $strlen($s); },
    'mopra__strholder_getlength' => function () use ($calls, $h) { for ($i = 0; $i < $calls; $i++) mopra__strholder_getlength($h); },
    'bin2hex 1 KiB' => function () use ($calls, $kib) { for ($i = 0; $i < $calls; $i++) bin2hex($kib); },
    'mopra__hexing 1 KiB' => function () use ($calls, $in, $out) { for ($i = 0; $i < $calls; $i++) mopra__hexing($out, $in, 0); },
    'mopra__hexing 1 KiB + value_get' => function () use ($calls, $in, $out) {
        for ($i = 0; $i < $calls; $i++) { mopra__hexing($out, $in, 0); mopra__strholder_value_get($out); } },
    'base64_encode 1 KiB' => function () use ($calls, $kib) { for ($i = 0; $i < $calls; $i++) base64_encode($kib); },
    'mopra__base64_encode 1 KiB' => function () use ($calls, $in, $out) { for ($i = 0; $i < $calls; $i++) mopra__base64_encode($out, $in, 0); },
    'mopra__base64_encode 1 KiB + value_get' => function () use ($calls, $in, $out) {
        for ($i = 0; $i < $calls; $i++) { mopra__base64_encode($out, $in, 0); mopra__strholder_value_get($out); } },
];
$ns = [];
foreach ($cases as $name => $f) $ns[$name] = max(0.0, best($f, $rounds) - $empty) / $calls;

printf("%d calls, best of %d rounds, loop cost %.1f ns/iteration taken off\n", $calls, $rounds, $empty / $calls);
foreach ($ns as $name => $v) printf("  %-40s %8.1f ns/call\n", $name, $v);
$ratio = fn($a, $b) => $ns[$b] > 0 ? $ns[$a] / $ns[$b] : INF;
echo "ratios (target: layer <= 2x a built-in call, codecs <= 1.5x the built-ins)\n";
printf("  getlength / strlen call                 %6.2f\n", $ratio('mopra__strholder_getlength', 'strlen (function call)'));
printf("  getlength / strlen opcode               %6.2f\n", $ratio('mopra__strholder_getlength', 'strlen (compiled to an opcode)'));
printf("  mopra__hexing / bin2hex                 %6.2f\n", $ratio('mopra__hexing 1 KiB', 'bin2hex 1 KiB'));
printf("  mopra__hexing + value_get / bin2hex     %6.2f\n", $ratio('mopra__hexing 1 KiB + value_get', 'bin2hex 1 KiB'));
printf("  mopra__base64_encode / base64_encode    %6.2f\n", $ratio('mopra__base64_encode 1 KiB', 'base64_encode 1 KiB'));
printf("  mopra__base64_encode + value_get / b64  %6.2f\n", $ratio('mopra__base64_encode 1 KiB + value_get', 'base64_encode 1 KiB'));
