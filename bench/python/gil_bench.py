"""Two Python threads against one: the `vellum` module releases the GIL while it decodes and
encodes, so a thread pool converts files in parallel.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/python/gil_bench.py [--files 8] [--side 1024]

For each task the same files are converted one after another on one thread, then by a pool
of two threads, in the same run; the figures are the median of --repeat runs. The encodes
chosen are single-threaded in the library (JPEG, NeuQuant palettes): DXT compression already
uses both cores by itself.
"""
import argparse
import statistics
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import vellum


def texture(side, seed):
    """Bricks, gradients, noise and an alpha fade: texture-like content."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:side, 0:side]
    mortar = ((x + (y // 32 % 2) * 32) % 64 < 3) | (y % 32 < 3)
    noise = rng.integers(-12, 13, (side, side))
    r = np.where(mortar, 180, 120 + (x * 97 // side) % 60 + (y // 32) * 13 % 40) + noise
    g = np.where(mortar, 175, 60 + (y * 71 // side) % 50) + noise // 2
    b = np.where(mortar, 170, 40 + (x + y) % 30) + noise // 3
    a = np.clip(255 - np.hypot(x - side / 2, y - side / 2) * 255 / side, 0, 255)
    return np.clip(np.stack([r, g, b, a], axis=2), 0, 255).astype(np.uint8)


def timed(work, items, threads):
    """(wall seconds, process CPU seconds): CPU above wall means threads ran at once."""
    start, cpu = time.perf_counter(), time.process_time()
    if threads == 1:
        for item in items:
            work(item)
    else:
        with ThreadPoolExecutor(threads) as pool:
            list(pool.map(work, items))
    return time.perf_counter() - start, time.process_time() - cpu


def spinner_share(work, item):
    """A pure-Python counting thread's progress while `work` runs, against its progress while
    the caller sleeps as long: near 1 with two free cores, about 0.5 on one, 0 if the call
    held the GIL. A check of the release that does not need an idle machine."""
    count, stop = [0], [False]

    def spin():
        while not stop[0]:
            count[0] += 1

    thread = threading.Thread(target=spin)
    thread.start()
    time.sleep(0.05)
    before, start = count[0], time.perf_counter()
    work(item)
    busy, during = time.perf_counter() - start, count[0] - before
    before = count[0]
    time.sleep(busy)
    idle = count[0] - before
    stop[0] = True
    thread.join()
    return during / max(idle, 1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=8)
    parser.add_argument("--side", type=int, default=1024)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    images = [texture(args.side, seed) for seed in range(args.files)]
    jpeg_files = [vellum.encode(image, "blp1-jpeg", quality=75) for image in images]
    tasks = [
        ("decode BLP1 JPEG level 0", lambda data: vellum.open(data).level(0), jpeg_files),
        ("encode BLP2 JPEG q75, all levels", lambda image: vellum.encode(image, "blp2-jpeg", quality=75), images),
        ("encode BLP1 paletted, NeuQuant 100, 1 level",
         lambda image: vellum.encode(image, "blp1-paletted", mips=1), images),
    ]
    print(f"{args.files} files of {args.side} x {args.side}, median of {args.repeat} runs (vellum {vellum.__version__})")
    print(f"{'task':44} {'1 thread':>10} {'2 threads':>10} {'speed-up':>9} {'CPU/wall':>9} {'spinner':>8}")
    for name, work, items in tasks:
        one, two, busy, spinner = [], [], [], []
        for _ in range(args.repeat):
            one.append(timed(work, items, 1)[0])
            wall, cpu = timed(work, items, 2)
            two.append(wall)
            busy.append(cpu / wall)
            spinner.append(spinner_share(work, items[0]))
        a, b = statistics.median(one), statistics.median(two)
        print(f"{name:44} {a * 1000 / len(items):8.1f}ms {b * 1000 / len(items):8.1f}ms {a / b:8.2f}x "
              f"{statistics.median(busy):8.2f} {statistics.median(spinner):8.2f}")
    print("(wall time per file; CPU/wall of the two-thread runs: 2.0 when both threads run all along;")
    print(" spinner: a Python thread's progress during one call, 1.0 on two free cores, 0 if the GIL were held)")


if __name__ == "__main__":
    main()
