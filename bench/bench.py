"""Collection benchmark: rizede-cli run against a Scrapy spider and the bare limit.

Run through bench/run, which installs the packages and builds the programs first:

    bench/run [SIZE ...]          sizes in articles (1000, 5000, 10000); default 1000
    bench/run --profile [SIZE]    one more Rizede run under perf, top entries printed

Everything listens on 127.0.0.1 only: nginx (one worker, no access log, keep-alive) serving
the generated site, and a MariaDB started through the program's own launcher from a
temporary program folder on a free port. Both are stopped at the end.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
BUILD = os.environ.get("BENCH_BUILD_DIR", os.path.join(REPO, "build-bench"))
PROGRAM = os.path.join(BUILD, "Rizede")
CLI = os.path.join(PROGRAM, "rizede-cli")
BARE = os.path.join(BUILD, "bench-tools", "bare")
OUT = os.path.join(HERE, "out")
PY = "/usr/bin/python3"  # Debian's python, which has scrapy and pymysql
TOOLS = ["rizede", "scrapy", "bare", "bare+db"]
PREFIX = {"rizede": "bench_", "scrapy": "scrapy_", "bare": None, "bare+db": "bare_",
          "rizede-alt": "bench_"}
# A second rizede-cli (say, a build with a change to try), run as the tool "rizede-alt".
ALT_CLI = os.environ.get("BENCH_ALT_CLI", "")
CLK = os.sysconf("SC_CLK_TCK")


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Bench:
    def __init__(self, work, runs, flush):
        self.flush = flush
        self.flush_setting = "?"
        self.work = work
        self.runs = runs
        self.prog = os.path.join(work, "prog")
        self.nginx_dir = os.path.join(work, "nginx")
        self.web_port = free_port()
        self.db_port = free_port()
        self.db_proc = None
        self.nginx_root = None
        self.child = None
        self.base = "http://127.0.0.1:%d" % self.web_port

    # ---- servers -------------------------------------------------------------------------
    def make_program_folder(self):
        os.makedirs(os.path.join(self.prog, "Mysql", "bin"), exist_ok=True)
        shutil.copy2(os.path.join(PROGRAM, "Mysql", "bin", "KiteSoft-mysql"),
                     os.path.join(self.prog, "Mysql", "bin"))
        if os.path.isdir(os.path.join(PROGRAM, "System")):
            shutil.copytree(os.path.join(PROGRAM, "System"), os.path.join(self.prog, "System"),
                            dirs_exist_ok=True)
        os.makedirs(os.path.join(self.prog, "Data", "Job"), exist_ok=True)
        os.makedirs(os.path.join(self.prog, "User"), exist_ok=True)
        with open(os.path.join(self.prog, "User", "Cfg.xml"), "w", encoding="utf-8-sig") as f:
            f.write('<?xml version="1.0" encoding="utf-8"?><Cfg>'
                    "<FixedPauseMs><![CDATA[0]]></FixedPauseMs></Cfg>")

    def write_job(self, lists):
        with open(os.path.join(HERE, "job.xml"), encoding="utf-8") as f:
            text = f.read()
        text = re.sub(r">\s+<", "><", text.strip())
        text = text.replace("@BASE@", self.base).replace("@LISTS@", str(lists))
        with open(os.path.join(self.prog, "Data", "Job", "bench.xml"), "w",
                  encoding="utf-8-sig") as f:
            f.write(text)

    def start_db(self):
        launcher = os.path.join(self.prog, "Mysql", "bin", "KiteSoft-mysql")
        self.db_proc = subprocess.Popen([launcher, "--port=%d" % self.db_port],
                                        stdin=subprocess.DEVNULL, start_new_session=True)
        deadline = time.time() + 180
        while time.time() < deadline:
            if self.db_proc.poll() is not None:
                raise RuntimeError("MariaDB ended; see %s/Mysql/run/launcher.log" % self.prog)
            if self.sql("SELECT 1", check=False) is not None:
                if self.flush is not None:
                    self.sql("SET GLOBAL innodb_flush_log_at_trx_commit=%d" % self.flush)
                self.flush_setting = self.sql("SELECT @@innodb_flush_log_at_trx_commit").strip()
                return
            time.sleep(0.3)
        raise RuntimeError("MariaDB did not answer within 180 s")

    def stop_db(self):
        if self.db_proc and self.db_proc.poll() is None:
            self.db_proc.terminate()
            try:
                self.db_proc.wait(60)
            except subprocess.TimeoutExpired:
                self.db_proc.kill()
                self.db_proc.wait()
        self.db_proc = None

    def db_cpu(self):
        with open("/proc/%d/stat" % self.db_proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK

    def sql(self, statement, check=True):
        r = subprocess.run(["mariadb", "-h127.0.0.1", "-P%d" % self.db_port, "-uroot",
                            "--default-character-set=utf8mb4", "-N", "-B", "kitesoft", "-e",
                            statement], capture_output=True, text=True)
        if r.returncode != 0:
            if check:
                raise RuntimeError("SQL failed: %s\n%s" % (statement, r.stderr))
            return None
        return r.stdout

    def start_nginx(self, root):
        if self.nginx_root == root:
            return
        self.stop_nginx()
        subprocess.run(["bash", os.path.join(HERE, "nginx.sh"), "start", self.nginx_dir, root,
                        str(self.web_port)], check=True)
        self.nginx_root = root

    def stop_nginx(self):
        if self.nginx_root:
            subprocess.run(["bash", os.path.join(HERE, "nginx.sh"), "stop", self.nginx_dir])
            self.nginx_root = None

    def requests_served(self):
        """(connections accepted, requests served) so far, from nginx's status counters."""
        out = subprocess.run(["curl", "-fs", "http://127.0.0.1:%d/nginx_status" % self.web_port],
                             capture_output=True, text=True).stdout
        accepts, _, requests = out.splitlines()[2].split()
        return int(accepts), int(requests)

    def statements(self):
        """Client round trips the server has answered: statements plus pings and the like."""
        out = self.sql("SHOW GLOBAL STATUS WHERE Variable_name IN "
                       "('Questions', 'Com_admin_commands')")
        return sum(int(line.split()[1]) for line in out.splitlines())

    def statement_overhead(self):
        """What one statements() call adds to the counters itself."""
        a = self.statements()
        return self.statements() - a

    def cleanup(self):
        if self.child and self.child.poll() is None:
            self.child.kill()
            self.child.wait()
        self.stop_nginx()
        self.stop_db()

    # ---- one run -------------------------------------------------------------------------
    def fresh_tables(self, prefix, create):
        self.sql("DROP TABLE IF EXISTS {0}Content, {0}PageUrl, {0}DownloadFile".format(prefix))
        if not create:
            return  # rizede-cli creates its own tables
        p = prefix
        self.sql(
            "CREATE TABLE {0}DownloadFile(ID int(11) NOT NULL auto_increment,DownloadUrl TEXT, "
            "PageUrl TEXT, SaveUrl TEXT, ReplaceUrl TEXT,State tinyint(1) default 0,"
            "Upload tinyint(1) default 0,labelId TEXT,PRIMARY KEY(ID)) "
            "CHARSET=utf8 COLLATE=utf8_unicode_ci;"
            "CREATE TABLE {0}PageUrl(ID int(11) NOT NULL auto_increment,url VARCHAR(250),"
            "PRIMARY KEY(ID)) CHARSET=utf8 COLLATE=utf8_unicode_ci;"
            "CREATE UNIQUE INDEX PersonIndex ON {0}pageurl(url);"
            "CREATE TABLE {0}Content (ID int(11) NOT NULL auto_increment,"
            "`已采` tinyint(1) default 0,`已原创` tinyint(1) default 0,`已发` tinyint(1) default 0,"
            "`标题` TEXT,`内容` TEXT, PageUrl TEXT,PRIMARY KEY(ID)) "
            "CHARSET=utf8 COLLATE=utf8_unicode_ci;".format(p))

    def command(self, tool, lists):
        if tool in ("rizede", "rizede-alt"):
            return [CLI if tool == "rizede" else ALT_CLI, "--root", self.prog, "run", "bench",
                    "--port", str(self.db_port)]
        if tool == "scrapy":
            return [PY, os.path.join(HERE, "scrapy_bench.py"), self.base, str(lists),
                    str(self.db_port), PREFIX[tool]]
        if tool == "bare":
            return [BARE, self.base, str(lists)]
        return [BARE, self.base, str(lists), "--db", str(self.db_port), PREFIX[tool]]

    def check_rows(self, prefix, expected):
        rows = self.sql("SELECT PageUrl, `标题`, CHAR_LENGTH(`内容`), `已采` FROM %sContent" % prefix)
        got = {}
        collected = 0
        for line in rows.splitlines():
            url, title, length, flag = line.split("\t")
            got[url[len(self.base):]] = (title, length)
            collected += flag == "1"
        problems = []
        if collected != len(expected) or len(got) != len(expected):
            problems.append("rows %d (collected %d), expected %d" %
                            (len(got), collected, len(expected)))
        missing = sum(1 for path, (title, _) in expected.items()
                      if got.get(path, ("",))[0] != title)
        if missing:
            problems.append("%d titles missing or wrong" % missing)
        bodies = sum(1 for path, (_, length) in expected.items()
                     if got.get(path, ("", ""))[1] != str(length))
        return problems, bodies

    def run_one(self, tool, lists, expected, logname):
        prefix = PREFIX[tool]
        if prefix:
            self.fresh_tables(prefix, create=not tool.startswith("rizede"))
        before_conn, before_req = self.requests_served()
        before_db = self.db_cpu()
        before_sql = self.statements()
        # Peak RSS comes from GNU time: a process's ru_maxrss also counts the memory of what it
        # was before exec, and a child forked from this script starts as a copy of it.
        rss_file = logname + ".rss"
        with open(logname, "w") as out:
            t0 = time.monotonic()
            self.child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file, "--"] +
                                          self.command(tool, lists), stdout=out,
                                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            _, status, ru = os.wait4(self.child.pid, 0)
            wall = time.monotonic() - t0
            self.child.returncode = os.waitstatus_to_exitcode(status)
        with open(rss_file) as f:
            rss_kib = int(f.read().split()[-1])
        # Rizede's last statements may still be in the server; let them land before counting.
        db_cpu = self.db_cpu() - before_db
        after_conn, after_req = self.requests_served()
        fetches = after_req - before_req - 1  # less our own status request
        conns = after_conn - before_conn - 1
        stmts = self.statements() - before_sql - self.overhead
        pages = lists + len(expected)
        problems = []
        if self.child.returncode != 0:
            problems.append("exit code %d" % self.child.returncode)
        if fetches != pages:
            problems.append("fetches %d, expected %d" % (fetches, pages))
        bodies = 0
        if prefix:
            p, bodies = self.check_rows(prefix, expected)
            problems += p
        else:
            with open(logname) as f:
                m = re.search(r"articles=(\d+) titles=(\d+)", f.read())
            if not m or int(m.group(2)) != len(expected):
                problems.append("titles: %s" % (m.group(0) if m else "no summary"))
        cpu = ru.ru_utime + ru.ru_stime
        return {"tool": tool, "pages": pages, "wall": wall, "pps": pages / wall,
                "cpu_1k": cpu * 1000 / pages, "db_1k": (db_cpu if prefix else 0) * 1000 / pages,
                "rss_mib": rss_kib / 1024, "ok": not problems, "problems": problems,
                "body_mismatches": bodies, "load": os.getloadavg()[0],
                "http_connections": conns, "statements_per_article":
                    (stmts if prefix else 0) / len(expected)}

    # ---- a size --------------------------------------------------------------------------
    def fixture(self, size):
        root = os.path.join(OUT, "site-%d" % size)
        if not os.path.exists(os.path.join(root, "counts")):
            log("generating the %d-article site ..." % size)
            shutil.rmtree(root, ignore_errors=True)
            subprocess.run([PY, os.path.join(HERE, "make_fixture.py"), root, str(size)],
                           check=True)
        with open(os.path.join(root, "counts")) as f:
            lists, total = map(int, f.read().split())
        expected = {}
        with open(os.path.join(root, "expected.tsv"), encoding="utf-8") as f:
            for line in f:
                path, title, length = line.rstrip("\n").split("\t")
                expected[path] = (title, int(length))
        return root, lists, expected

    def ceiling(self, size):
        r = subprocess.run(["wrk", "-t1", "-c16", "-d5s", "-s",
                            os.path.join(HERE, "wrk_rotate.lua"), self.base, "--", str(size)],
                           capture_output=True, text=True)
        m = re.search(r"Requests/sec:\s+([\d.]+)", r.stdout)
        return float(m.group(1)) if m else 0.0

    def size(self, size, tools):
        root, lists, expected = self.fixture(size)
        self.overhead = self.statement_overhead()
        self.start_nginx(root)
        self.write_job(lists)
        result = {"size": size, "lists": lists, "runs": {t: [] for t in tools},
                  "ceiling": self.ceiling(size), "load_before": os.getloadavg()}
        log("size %d: %d lists, %d articles; nginx ceiling %.0f req/s; load %.2f" %
            (size, lists, len(expected), result["ceiling"], os.getloadavg()[0]))
        for i in range(self.runs + 1):
            for tool in tools:
                r = self.run_one(tool, lists, expected,
                                 os.path.join(self.work, "%s-%d-%d.log" % (tool, size, i)))
                tag = "warm-up" if i == 0 else "run %d" % i
                log("  %-8s %-7s %7.0f pages/s  cpu %.3f s/1k  db %.3f s/1k  rss %5.1f MiB  "
                    "conns %d  db round trips/article %.1f  %s" %
                    (tool, tag, r["pps"], r["cpu_1k"], r["db_1k"], r["rss_mib"],
                     r["http_connections"], r["statements_per_article"],
                     "ok" if r["ok"] else "FAILED: " + "; ".join(r["problems"])))
                if i > 0:
                    result["runs"][tool].append(r)
        result["load_after"] = os.getloadavg()
        return result

    def profile(self, size):
        root, lists, expected = self.fixture(size)
        self.start_nginx(root)
        self.write_job(lists)
        self.fresh_tables(PREFIX["rizede"], create=False)
        data = os.path.join(OUT, "perf-%d.data" % size)
        subprocess.run(["perf", "record", "-F", "4999", "--call-graph", "dwarf,16384", "-o", data, "--"] +
                       self.command("rizede", lists), stdout=subprocess.DEVNULL, check=True)
        report = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children",
                                 "--percent-limit", "0.7", "-g", "none", "--sort", "dso,symbol"],
                                capture_output=True, text=True).stdout
        path = os.path.join(OUT, "profile-%d.txt" % size)
        with open(path, "w") as f:
            f.write(report)
        print(report)
        log("profile written to %s" % path)


def medians(runs):
    ok = [r for r in runs if r["ok"]]
    if not ok:
        return None
    m = {k: statistics.median(r[k] for r in ok) for k in ("pps", "cpu_1k", "db_1k", "rss_mib")}
    m["n"] = len(ok)
    m["of"] = len(runs)
    return m


def table(results, tag):
    lines = ["| articles | tool | runs ok | pages/s | tool CPU-s / 1k pages | MariaDB CPU-s / 1k "
             "pages | total CPU-s / 1k | peak RSS MiB |",
             "|---|---|---|---|---|---|---|---|"]
    for res in results:
        for tool, runs in res["runs"].items():
            m = medians(runs)
            if not m:
                lines.append("| %d | %s | 0/%d | – | – | – | – | – |" % (res["size"], tool, len(runs)))
                continue
            lines.append("| %d | %s | %d/%d | %.0f | %.3f | %.3f | %.3f | %.1f |" %
                         (res["size"], tool, m["n"], m["of"], m["pps"], m["cpu_1k"], m["db_1k"],
                          m["cpu_1k"] + m["db_1k"], m["rss_mib"]))
    lines.append("")
    for res in results:
        med = {t: medians(r) for t, r in res["runs"].items()}
        rz, sc, bd = med.get("rizede"), med.get("scrapy"), med.get("bare+db")
        parts = ["%d articles: nginx ceiling %.0f req/s, load %.1f before, %.1f after" %
                 (res["size"], res["ceiling"], res["load_before"][0], res["load_after"][0])]
        if rz and sc:
            parts.append("Rizede/Scrapy pages/s %.1f×, CPU (with MariaDB) %.2f of Scrapy's, "
                         "RSS %.2f of Scrapy's" %
                         (rz["pps"] / sc["pps"], (rz["cpu_1k"] + rz["db_1k"]) /
                          (sc["cpu_1k"] + sc["db_1k"]), rz["rss_mib"] / sc["rss_mib"]))
        if rz and bd:
            parts.append("bare limit with storage / Rizede pages/s %.1f×" % (bd["pps"] / rz["pps"]))
        lines.append("- " + "; ".join(parts))
    growth = growth_line(tag)
    if growth:
        lines.append("- " + growth)
    return "\n".join(lines)


def growth_line(tag):
    """CPU per 1,000 pages (tool + MariaDB) at 10k articles against 1k, from the saved results."""
    saved = {}
    for size in (1000, 10000):
        path = os.path.join(OUT, "results-%d%s.json" % (size, tag))
        if os.path.exists(path):
            with open(path) as f:
                saved[size] = json.load(f)
    if len(saved) < 2:
        return None
    parts = []
    for tool in TOOLS + ["rizede-alt"]:
        a = medians(saved[1000]["runs"].get(tool, []))
        b = medians(saved[10000]["runs"].get(tool, []))
        if a and b:
            ca, cb = a["cpu_1k"] + a["db_1k"], b["cpu_1k"] + b["db_1k"]
            parts.append("%s %+.0f%%" % (tool, (cb / ca - 1) * 100))
    return "CPU per 1,000 pages from 1k to 10k articles: " + ", ".join(parts)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("sizes", nargs="*", type=int)
    ap.add_argument("--work", help="work folder (made when missing; removed at the end)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--tools", default=",".join(TOOLS))
    ap.add_argument("--profile", action="store_true")
    ap.add_argument("--flush", type=int, choices=(0, 1, 2),
                    help="innodb_flush_log_at_trx_commit for the run (the launcher's is 2)")
    args = ap.parse_args()
    sizes = args.sizes or [1000]
    tools = args.tools.split(",")
    work = args.work or tempfile.mkdtemp(prefix="rizede-bench-")
    os.makedirs(work, exist_ok=True)
    os.makedirs(OUT, exist_ok=True)
    bench = Bench(work, args.runs, args.flush)
    tag = "" if args.flush is None else "-flush%d" % args.flush

    def stop(signum, _frame):
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        bench.make_program_folder()
        bench.start_db()
        if args.profile:
            bench.profile(sizes[0])
            return 0
        results = []
        for size in sizes:
            res = bench.size(size, tools)
            results.append(res)
            with open(os.path.join(OUT, "results-%d%s.json" % (size, tag)), "w") as f:
                json.dump(res, f, indent=1)
        text = table(results, tag)
        print("\n%s, %d cores, %s, innodb_flush_log_at_trx_commit %s\n" %
              (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), os.cpu_count(),
               os.uname().release,
               bench.flush_setting + (" (launcher)" if args.flush is None else "")))
        print(text)
        with open(os.path.join(OUT, "table%s.md" % tag), "w") as f:
            f.write(text + "\n")
        return 0
    finally:
        bench.cleanup()
        if not os.environ.get("BENCH_KEEP"):
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
