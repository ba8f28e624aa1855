"""Runs every benchmark of this folder and writes RESULTS.md and results.png.

Each benchmark module exposes run() -> list[Comparison]; ratios are peer time
divided by ours, measured side by side in this one process (above 1 means
we are faster).
"""

import importlib
import importlib.metadata
import pathlib
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
# The test-only module's native floor helpers, when it is built.
TESTING = HERE.parent / "build" / "native" / "testing"
if TESTING.is_dir():
    sys.path.append(str(TESTING))

from harness import machine_line  # noqa: E402

MODULES = ["bench_frame", "bench_serialize", "bench_validate", "bench_analytics", "bench_django", "bench_json",
           "bench_queryset", "bench_input", "bench_layer", "bench_rest_api"]
PACKAGES = ["zembra", "Django", "djangorestframework", "pydantic", "msgspec", "orjson", "django-ninja", "numpy"]


def versions():
    out = []
    for name in PACKAGES:
        try:
            out.append(f"{name} {importlib.metadata.version(name)}")
        except importlib.metadata.PackageNotFoundError:
            pass
    return ", ".join(out)


def write_chart(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    labels = [f"{bench[:48]} | vs {peer[:34]}" for bench, peer, _ in rows]
    ratios = [ratio for _, _, ratio in rows]
    fig, ax = plt.subplots(figsize=(12, 0.32 * len(rows) + 1.5))
    colors = ["tab:green" if r >= 1 else "tab:red" for r in ratios]
    ax.barh(range(len(rows)), ratios, color=colors)
    ax.set_yticks(range(len(rows)), labels, fontsize=7)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xlabel("peer time / zembra time (log scale; right of 1 = zembra faster)")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return True


def main():
    comparisons = []
    for name in MODULES:
        try:
            module = importlib.import_module(name)
        except ImportError as exc:
            print(f"skipping {name}: {exc}")
            continue
        started = time.perf_counter()
        for comparison in module.run():
            print(comparison.report())
            comparisons.append(comparison)
        print(f"-- {name} took {time.perf_counter() - started:.1f}s")

    rows = [(c.name, peer, ratio) for c in comparisons for peer, ratio in c.ratios().items()]
    lines = ["# Benchmark results", "",
             f"Machine: {machine_line()}", "", f"Versions: {versions()}", "",
             "Ratios are the peer's time divided by ours, measured side by side in one process "
             "(best of several interleaved samples); above 1 means zembra is faster.", "",
             "| Benchmark | Peer | Ratio | zembra time per call |", "|---|---|---:|---:|"]

    def per_call(seconds):
        return f"{seconds * 1e3:.3f} ms" if seconds >= 1e-3 else f"{seconds * 1e6:.3f} us"

    for c in comparisons:
        ours = c.timings[c.ours]
        for peer, ratio in c.ratios().items():
            lines.append(f"| {c.name} | {peer} | {ratio:.2f}x | {per_call(ours)} |")
    # The demo (make demo) owns its own section of the file: keep it.
    results = HERE / "RESULTS.md"
    old = results.read_text() if results.exists() else ""
    begin, end = old.find("<!-- demo:begin"), old.find("<!-- demo:end -->")
    demo = old[begin:end + len("<!-- demo:end -->")] if 0 <= begin < end else ""
    results.write_text("\n".join(lines) + "\n" + ("\n" + demo + "\n" if demo else ""))
    write_chart(rows, HERE / "results.png")
    print(f"wrote {results}")


if __name__ == "__main__":
    main()
