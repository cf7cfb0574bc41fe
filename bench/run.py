#!/usr/bin/env python3
"""Runs every benchmark of the project RUNS times and prints one table of medians with
their goals and ratios. Started by bench/run.sh after the build; arguments: BUILD_DIR RUNS.

Besides the benchmark executables it measures corvanta-cli itself against
corvanta-fake-index: 2,000 keywords on 15 workers with 50 ms of service latency (time
against the ideal keywords x latency / workers, and CPU time per request) and with none
(requests per second on loopback)."""

import json
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build/default"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3

rows = []  # (name, median, unit, goal, better) better: "lower" or "higher" or None


def add(name, values, unit, goal=None, better=None):
    rows.append((name, statistics.median(values), unit, goal, better, len(values)))


def google_bench(executable, extra=()):
    """Median of RUNS repetitions of every benchmark of a google-benchmark executable:
    {name: {"real_time": ms, counters...}}."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run(
            [executable, f"--benchmark_repetitions={RUNS}",
             "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}",
             "--benchmark_out_format=json", *extra],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        data = json.load(open(out.name))
    result = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        entry = {k: v for k, v in b.items() if isinstance(v, (int, float))}
        entry["real_time_ms"] = b["real_time"] * scale
        result[b["run_name"]] = entry
    return result


def bench_path(sub, name):
    return os.path.join(BUILD, "bench", sub, name)


def pool():
    r = google_bench(bench_path("pool", "pool_bench"))
    for name, e in r.items():
        if name.startswith("BM_RampTo15Workers"):
            add("pool: ramp 1 -> 15 workers, 2,000 tasks of 50 ms waiting", [e["real_time_ms"]],
                "ms")
        else:
            add(f"pool: {name.split('/iterations')[0]} per 100k batch", [e["ms_per_batch"]], "ms",
                e["goal_ms"], "lower")


def export():
    r = google_bench(bench_path("export", "export_bench"))
    for name, e in r.items():
        goal = e["real_time_ms"] / e["vs_goal"] if e.get("vs_goal") else None
        add(f"export: {name.split('/')[0].replace('BM_Export', '')} of the list", [e["real_time_ms"]], "ms",
            goal, "lower")


def web():
    r = google_bench(bench_path("web", "web_bench"))
    for name, e in r.items():
        if name.startswith("requestsPerSecond"):
            threads = name.split("/")[1]
            add(f"web: fresh-connection requests per second, {threads} threads",
                [e["items_per_second"]], "1/s", 4000 if threads == "15" else None, "higher")
        elif name.startswith("stallOvershoot"):
            which = "before headers" if name.split("/")[1] == "0" else "mid-body"
            add(f"web: overshoot of a 1 s time-out, stall {which}", [e["worst_overshoot_ms"]],
                "ms", 250, "lower")
        elif name.startswith("roundTrip30ms"):
            service = e["service_ms"]
            add("web: https at 30 ms RTT, fresh connection per request", [e["fresh_ms"]], "ms")
            add("web: https at 30 ms RTT, kept connection per request", [e["kept_ms"]], "ms",
                1.2 * (30 + service), "lower")
            add("web: https at 30 ms RTT, fresh / kept", [e["fresh_over_kept"]], "x")


def util():
    r = google_bench(bench_path("util", "util_bench"))
    for name, e in r.items():
        add(f"util: regex {name}", [e["real_time_ms"]], "ms")


def app():
    path = bench_path("app", "app_bench")
    if not os.path.exists(path):
        return
    runs = {}
    for _ in range(RUNS):
        out = subprocess.run([path], check=True, capture_output=True, text=True,
                             env={**os.environ, "QT_QPA_PLATFORM": "offscreen"}).stdout
        for line in out.splitlines():
            m = re.match(r"(.+?)\s+(-?[\d.]+)\s+(\S+)\s+goal\s+([\d.]+)\s+ratio", line)
            if m:
                runs.setdefault((m.group(1).strip(), m.group(3), float(m.group(4))), []).append(
                    float(m.group(2)))
    for (name, unit, goal), values in runs.items():
        add(f"app: {name}", values, unit, goal, "lower")


def start_fake(latency_ms):
    fake = subprocess.Popen(
        [os.path.join(BUILD, "fake", "corvanta-fake-index"), "--port", "0", "--quiet",
         "--latency-ms", str(latency_ms), "--accept-cookie", "BDUSS=bench"],
        stdout=subprocess.PIPE, text=True)
    return fake, fake.stdout.readline().strip()


def cli_run(url, keywords, threads, folder):
    """Wall seconds, CPU seconds (user + system) and exit code of one corvanta-cli run."""
    started = time.monotonic()
    child = subprocess.Popen(
        [os.path.join(BUILD, "src", "cli", "corvanta-cli"), "query", keywords, "-o",
         os.path.join(folder, "out.csv"), "--cookie", "BDUSS=bench", "--threads", str(threads),
         "--progress-every", "0", "--endpoint", url],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - started
    return wall, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status)


def cli():
    count, threads, latency = 2000, 15, 50
    with tempfile.TemporaryDirectory() as folder:
        keywords = os.path.join(folder, "keywords.txt")
        with open(keywords, "w") as f:
            f.writelines(f"keyword{i}\n" for i in range(count))
        for ms in (latency, 0):
            fake, url = start_fake(ms)
            try:
                walls, cpus = [], []
                for _ in range(RUNS):
                    wall, cpu, code = cli_run(url, keywords, threads, folder)
                    if code != 0:
                        raise RuntimeError(f"corvanta-cli ended with {code}")
                    walls.append(wall)
                    cpus.append(cpu)
            finally:
                fake.terminate()
                fake.wait()
            if ms:
                ideal = count * ms / 1000 / threads
                add(f"cli: {count} keywords, {threads} workers, {ms} ms latency: wall", walls,
                    "s", ideal / 0.95, "lower")
                add(f"cli: the same, ideal ({ideal:.2f} s) / measured", [ideal / w for w in walls],
                    "", 0.95, "higher")
                add("cli: the same, CPU time (user + sys) per request",
                    [c / count * 1000 for c in cpus], "ms", 0.2, "lower")
            else:
                add(f"cli: {count} keywords, {threads} workers, 0 ms latency: requests per second",
                    [count / w for w in walls], "1/s", 4000, "higher")


def machine():
    cpu = "?"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    mem = "?"
    try:
        for line in open("/proc/meminfo"):
            if line.startswith("MemTotal"):
                mem = f"{int(line.split()[1]) / 1024 / 1024:.0f} GiB"
    except OSError:
        pass
    return f"{cpu}, {os.cpu_count()} cores, {mem} RAM, {platform.system()} {platform.release()}"


def main():
    for part in (pool, export, web, util, app, cli):
        print(f"running {part.__name__} benchmarks ...", file=sys.stderr, flush=True)
        part()
    print(f"Machine: {machine()}")
    print(f"Median of {RUNS} runs; ratio = median / goal; 'yes' where the goal is met.\n")
    width = max(len(r[0]) for r in rows)
    print(f"| {'benchmark':<{width}} | {'median':>10} | {'unit':<4} | {'goal':>8} | {'ratio':>5} | met |")
    print(f"|{'-' * (width + 2)}|{'-' * 12}|{'-' * 6}|{'-' * 10}|{'-' * 7}|-----|")
    for name, median, unit, goal, better, _ in rows:
        ratio = f"{median / goal:.2f}" if goal else ""
        met = ""
        if goal:
            met = "yes" if (median <= goal if better == "lower" else median >= goal) else "no"
        goal_text = f"{'<=' if better == 'lower' else '>='}{goal:.4g}" if goal else ""
        print(f"| {name:<{width}} | {median:>10.3f} | {unit:<4} | {goal_text:>8} | {ratio:>5} | {met:<3} |")


if __name__ == "__main__":
    main()
