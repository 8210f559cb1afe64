"""The Python module against the C++ calls it wraps (not run by CI).

    cmake -S . -B build -DVARNDEL_BENCH=ON && cmake --build build --target varndel_python varndel_python_bench
    PYTHONPATH=$PWD/build/python /usr/bin/python3 bench/bench_python.py build/varndel_python_bench

- read: varndel.read of a 1.2-million-triangle model against ReadModelFile
  (the fastest of 7 rounds of 3 reads each, the two sides taking turns), and the peak RSS growth of one read in each;
- views: np.shares_memory between two views of one mesh, and the peak RSS
  growth after taking every view;
- evaluate: AnimationPlayer.evaluate(ticks, out=palette) on the 80-bone
  character played forward at 60 fps, against AnimationPlayer::Evaluate (the fastest of 7 rounds of 200,000 calls each).
"""
import subprocess
import sys
import tempfile
import time

import numpy as np
import varndel


ROUNDS = 7


def peak_rss_mib():
    """VmHWM, as the C++ side measures it."""
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:")) / 1024


def cxx(helper, *args):
    return [float(x) for x in subprocess.run([helper, *args], check=True, capture_output=True, text=True).stdout.split()]


def main(helper):
    with tempfile.TemporaryDirectory() as work:
        subprocess.run([helper, "write", work], check=True)
        grid, character = f"{work}/grid.staticbin", f"{work}/character.animbin"

        before = peak_rss_mib()
        model = varndel.read(grid)
        read_growth = peak_rss_mib() - before
        mesh = model.meshes[0]
        views = [mesh.positions, mesh.normals, mesh.uvs, mesh.tangents, mesh.bitangents, mesh.bone_ids, mesh.weights,
                 mesh.vertices, mesh.indices]
        float(views[0].sum())  # touch the data through a view
        view_growth = peak_rss_mib() - before
        shared = np.shares_memory(mesh.positions, mesh.vertices) and np.shares_memory(mesh.vertices["position"],
                                                                                      mesh.positions)
        triangles = len(mesh.indices) // 3
        file_mib = (len(mesh.vertices) * 88 + len(mesh.indices) * 4) / 2**20
        del views, mesh, model

        # Rounds of both sides, the fastest of each: the machine is shared.
        python_reads, cxx_reads = [], []
        for _ in range(ROUNDS):
            for _ in range(3):
                start = time.perf_counter()
                read = varndel.read(grid)
                python_reads.append((time.perf_counter() - start) * 1e3)
                del read  # freed outside the timing, as the C++ side frees it
            cxx_time, cxx_growth = cxx(helper, "read", grid, "3")
            cxx_reads.append(cxx_time)
        python_read, cxx_read = min(python_reads), min(cxx_reads)

        calls = 200000
        model = varndel.read(character)
        player = varndel.AnimationPlayer(model.animation)
        palette = player.evaluate(0.0)
        step, duration = model.animation.ticks_per_second / 60, model.animation.duration
        ticks, t = [], 0.0
        for _ in range(calls):
            t = 0.0 if t + step > duration else t + step
            ticks.append(t)
        python_runs, cxx_runs = [], []
        for _ in range(ROUNDS):
            start = time.perf_counter()
            for t in ticks:
                player.evaluate(t, out=palette)
            python_runs.append((time.perf_counter() - start) * 1e9 / calls)
            cxx_runs.append(cxx(helper, "evaluate", character, str(calls))[0])
        python_evaluate, cxx_evaluate = min(python_runs), min(cxx_runs)

    print(f"model: {triangles} triangles, {file_mib:.1f} MiB of records")
    print(f"read: Python {python_read:.1f} ms, C++ {cxx_read:.1f} ms, ratio {python_read / cxx_read:.3f}")
    print(f"peak RSS growth of one read: Python {read_growth:.0f} MiB, C++ {cxx_growth:.0f} MiB; "
          f"after taking all nine views: {view_growth:.0f} MiB")
    print(f"np.shares_memory(mesh.positions, mesh.vertices), (mesh.vertices['position'], mesh.positions): {shared}")
    print(f"evaluate, 80 bones, out=: Python {python_evaluate / 1e3:.2f} us, C++ {cxx_evaluate / 1e3:.2f} us, "
          f"added {(python_evaluate - cxx_evaluate) / 1e3:.2f} us per call")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/varndel_python_bench")
