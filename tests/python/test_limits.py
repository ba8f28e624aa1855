"""Calls at the edges of the process: interpreter exit while a daemon thread
is inside a call, deep recursion through Python hooks, and running out of
memory. Each case runs in a subprocess, so a crash is a failed test."""

import os
import subprocess
import sys
import textwrap

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SANITIZED = bool(os.environ.get("ZEMBRA_SANITIZED"))

# Inputs shared by the scripts. The hooks are Python code run inside a call,
# so the interpreter may switch threads (or end the thread) right there.
PRELUDE = textwrap.dedent(f"""
    import sys, threading, time
    from decimal import Decimal
    import zembra_core as z
    import zembra_django as zd
    sys.path.insert(0, {os.path.join(HERE, "django_tests")!r})
    from standins import StandinField, standin_model

    class Hooked:
        def __str__(self):
            return "1" + "0" * (sum(range(40)) % 2)

    class Record:
        @property
        def title(self):
            return "t" + str(sum(range(40)))
        price = Decimal("1.50")

    model = standin_model(StandinField("title", "CharField", max_length=50),
                          StandinField("price", "DecimalField", max_digits=20, decimal_places=2),
                          StandinField("data", "JSONField", null=True))
    model_schema = zd.ModelSchema(model)
    schema = z.Schema({{"price": z.Field(Decimal), "nested": z.Field(list, nullable=True)}})
""")


# The address sanitizer misreads the end of a thread by pthread_exit: the
# frames unwound keep their poisoned red zones, and its own clean-up before
# the next no-return call then writes into one (through an interceptor).
ASAN_SUPPRESSIONS = os.path.join(HERE, "asan_forced_unwind.supp")


def run_script(body, *args):
    code = PRELUDE + textwrap.dedent(body)
    env = dict(os.environ)
    if SANITIZED:
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":suppressions=" + ASAN_SUPPRESSIONS
    return subprocess.Popen([sys.executable, "-c", code, *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)


# ---- daemon threads at interpreter exit ------------------------------------

# Sizes chosen so that the thread is inside the call (mostly with the lock
# released, or inside a hook) when the main thread finishes.
DAEMON_CALLS = {
    "batch_stats": ("[float(i) for i in range(300_000)]", "z.batch_stats(data)"),
    "compute_risk_batch": ("[{'credit_score': 600, 'loan_amount': 1000.0}] * 200_000",
                           "z.compute_risk_batch(data)"),
    "validate_names_batch": ("['Ada Lovelace ' + 'x' * 20_000] * 50", "z.validate_names_batch(data)"),
    "serialize_many": ("[{'price': Hooked()}] * 100_000", "z.serialize_many(data, schema)"),
    "serialize_batch": ("[Record() for _ in range(50_000)]", "zd.serialize_batch(data, model_schema)"),
}

DAEMON_SCRIPT = """
    data = {data}
    started = threading.Event()

    def loop():
        started.set()
        while True:
            {call}

    threading.Thread(target=loop, daemon=True).start()
    started.wait()
    time.sleep(float(sys.argv[1]))
"""


@pytest.mark.parametrize("name", DAEMON_CALLS)
def test_daemon_thread_inside_a_call_at_exit(name):
    data, call = DAEMON_CALLS[name]
    # Twenty runs at once, each ending after a slightly different delay.
    procs = [run_script(DAEMON_SCRIPT.format(data=data, call=call), 0.02 + 0.003 * i) for i in range(20)]
    results = [(p.wait(timeout=300), p.communicate()[1]) for p in procs]
    failures = [(rc, err[-500:]) for rc, err in results if rc != 0 or err]
    assert not failures, failures


# ---- deep recursion through hooks -------------------------------------------

RECURSION_CALLS = {
    "serialize": "z.serialize({'price': Reenter(), 'nested': deep}, schema)",
    "validate": "z.validate({'price': Reenter(), 'nested': deep}, schema)",
    "serialize_many": "z.serialize_many([{'price': Reenter()}], schema)",
    "serialize_instance": "zd.serialize_instance(Instance(), model_schema)",
}

RECURSION_SCRIPT = """
    sys.setrecursionlimit(100_000)
    deep = []  # nested as deep as JSON values may be, copied at every level
    for _ in range(120):
        deep = [deep]
    depth = 0

    class Reenter:
        def __str__(self):
            global depth
            depth += 1
            {call}
            return "1"

    class Instance:
        title = "t"
        data = deep
        @property
        def price(self):
            return Reenter()

    def main():
        try:
            str(Reenter())
        except RecursionError:
            print("RecursionError", depth > 20)

    stack_mib = int(sys.argv[1])
    if stack_mib:
        threading.stack_size(stack_mib << 20)
        thread = threading.Thread(target=main)
        thread.start()
        thread.join()
    else:
        main()
"""


@pytest.mark.parametrize("stack_mib", [0, 1], ids=["main-thread", "thread-with-1MiB-stack"])
@pytest.mark.parametrize("name", RECURSION_CALLS)
def test_recursion_through_hooks_ends_in_recursion_error(name, stack_mib):
    proc = run_script(RECURSION_SCRIPT.format(call=RECURSION_CALLS[name]), stack_mib)
    out, err = proc.communicate(timeout=300)
    assert (proc.returncode, out) == (0, "RecursionError True\n"), err[-2000:]


# ---- running out of memory --------------------------------------------------

MEMORY_SCRIPT = """
    import resource
    N = 3_000_000
    values = [0.5] * N
    records = [{"credit_score": 700}] * N
    names = ["Ada Lovelace"] * N
    blob = bytes(40 << 20)
    bytes_schema = z.Schema({"b": z.Field(bytes)})

    class HugeLength:  # claims 2**40 items; the buffer for them cannot be had
        def __len__(self):
            return 2 ** 40
        def __getitem__(self, i):
            return [1, 2, 3][i]

    cases = {
        "batch_stats": lambda: z.batch_stats(values),
        "compute_risk_batch": lambda: z.compute_risk_batch(records),
        "validate_names_batch": lambda: z.validate_names_batch(names),
        "base64": lambda: z.serialize({"b": blob}, bytes_schema),
        "huge_length": lambda: z.serialize({"b": HugeLength()}, bytes_schema),
        "django_base64": lambda: zd.serialize_fields([{"name": "b", "type": "BinaryField", "nullable": False, "has_default": False}],
                                                       {"b": blob}),
    }
    z.batch_stats([1.0])  # the worker pool exists before the limit is set
    with open("/proc/self/status") as f:
        size = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + (16 << 20), resource.RLIM_INFINITY))
    for name, call in cases.items():
        try:
            call()
            print(name, "no error")
        except MemoryError:
            print(name, "MemoryError")
        except BaseException as e:
            print(name, type(e).__name__, e)
    print(z.batch_stats([1.0, 3.0])["mean"])  # still usable afterwards
"""


@pytest.mark.skipif(SANITIZED, reason="the address sanitizer cannot run under an address-space limit")
def test_running_out_of_memory_raises_memory_error():
    proc = run_script(MEMORY_SCRIPT)
    out, err = proc.communicate(timeout=300)
    assert proc.returncode == 0, err[-2000:]
    lines = out.splitlines()
    assert lines[-1] == "2.0"
    assert lines[:-1] == [f"{name} MemoryError" for name in ["batch_stats", "compute_risk_batch",
                                                             "validate_names_batch", "base64", "huge_length",
                                                             "django_base64"]]


PANIC_SCRIPT = """
    import resource
    import _zembra_testing
    # Too little address space for a worker's stack: creating the pool fails,
    # an internal fault.
    with open("/proc/self/status") as f:
        size = next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + (1 << 20), resource.RLIM_INFINITY))
    try:
        z.batch_stats([1.0])
    except BaseException as e:
        print(type(e) is _zembra_testing.panic_type(), isinstance(e, Exception), e)
"""


@pytest.mark.skipif(SANITIZED, reason="the address sanitizer cannot run under an address-space limit")
def test_internal_fault_of_native_raises_the_shared_panic_class(testing_module):
    proc = run_script(PANIC_SCRIPT)
    out, err = proc.communicate(timeout=300)
    assert proc.returncode == 0, err[-2000:]
    assert out.startswith("True False The global thread pool has not been initialized."), (out, err)
