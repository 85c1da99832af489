#!/usr/bin/python3
"""Plain no-change runs of a site whose files were saved and published within one minute.

A listing that gives times to the minute cannot tell such a file's server copy from an edit
made after its upload; the runner then asks the server for the copy's exact time (MDTM). This
counts those questions and times the runs, next to rclone, against pyftpdlib with a round trip
of 20 ms (the peer harness's network namespace, ../shared/peerbench; run as root, after its
setup.sh; --peerbench DIR, else PEERBENCH, names its folder when it is not ../shared/peerbench).

    bench/same_minute.py [--peerbench DIR] [--build build] [--files 2000] [--runs 3] [--delay-ms 10]
"""
import argparse
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEERBENCH = os.environ.get("PEERBENCH", os.path.join(HERE, "..", "..", "shared", "peerbench"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--peerbench", default=PEERBENCH)
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--delay-ms", type=float, default=10.0, help="each way")
    parser.add_argument("--client-library", action="store_true")
    args = parser.parse_args()
    sys.path.insert(0, os.path.abspath(args.peerbench))
    import bench  # noqa: E402  (the peer harness)
    import servers  # noqa: E402
    from netns import LatencyNetns  # noqa: E402

    runner = os.path.abspath(os.path.join(args.build, "bench", "publish"))
    work = tempfile.mkdtemp(prefix="same-minute-")
    src = os.path.join(work, "src")
    state = os.path.join(work, "site.state")
    try:
        with LatencyNetns(delay_ms=args.delay_ms, workdir=work) as netns:
            server = servers.PyftpdlibServer(work, host="127.0.0.1", netns=netns.name).start()
            try:
                ours_remote = server.reset_remote("ours")
                server.reset_remote("rclone")
                ctx = {"src": src, "host": server.host, "port": server.port,
                       "user": server.user, "password": server.password,
                       "remote": "/rclone", "workdir": work}
                ours = netns.exec_prefix() + [
                    runner, src, f"ftp:{server.host}/ours", "--user", server.user,
                    "--password", server.password, "--port", str(server.port), "--delete", "1",
                    "--state", state, "--no-turbo"]
                if args.client_library:
                    ours.append("--client-library")
                rclone_argv, rclone_env = bench.TOOLS["rclone-t4"](ctx)
                rclone = netns.exec_prefix() + rclone_argv
                rclone_env = dict(os.environ, **rclone_env)

                # Saved and published in one minute, both from its first half.
                while datetime.datetime.now().second > 20:
                    time.sleep(0.5)
                for i in range(args.files):
                    folder = os.path.join(src, f"f{i % 40:02d}")
                    os.makedirs(folder, exist_ok=True)
                    with open(os.path.join(folder, f"page{i:05d}.html"), "w") as f:
                        f.write(f"<p>page {i}</p>\n" * 20)
                saved = datetime.datetime.now()
                netns.set_delay(False)
                subprocess.run(ours, check=True, stdout=subprocess.DEVNULL)
                subprocess.run(rclone, check=True, env=rclone_env)
                published = datetime.datetime.now()
                print(f"{args.files} files saved at {saved:%H:%M:%S.%f}, published by "
                      f"{published:%H:%M:%S.%f}")
                netns.set_delay(True)
                print(f"round trip {netns.ping_rtt_ms()} ms")
                for name, argv, env in (("ours", ours, None), ("rclone", rclone, rclone_env)):
                    for run in range(1, args.runs + 1):
                        offset = server.log_offset()
                        start = time.perf_counter()
                        subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL)
                        wall = time.perf_counter() - start
                        counts = server.counts_since(offset)
                        print(f"{name} no-change run {run}: {wall:.2f} s, MDTM {counts.get('MDTM', 0)},"
                              f" STOR {counts.get('STOR', 0)}, commands {sum(counts.values())}")
                uploaded = sum(len(files) for _, _, files in os.walk(ours_remote))
                print(f"files on the server: {uploaded}")
            finally:
                server.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
