"""One visitor or model used from several threads at once: each call keeps its own state."""

import sys
import threading

from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import And, Constant, Exists, Forall, FunctionApp, Implies, Not, Or, PredicateApp, Variable
from zelqor.core.sorts import Sort
from zelqor.core.visitors import (
    ASTTransformer, DepthVisitor, ExportVisitor, FreeVariableCollector, SizeVisitor, SubstitutionTransformer,
)


class HookSort(Sort):
    """Runs `hook()` whenever it is hashed."""

    __slots__ = ("hook",)

    def __new__(cls, hook):
        self = object.__new__(cls)
        object.__setattr__(self, "hook", hook)
        return self

    def __hash__(self):
        self.hook()
        return 7

    def __eq__(self, other):
        return self is other

    name = "H"


def test_collector_calls_interleaved_inside_a_hash():
    # Thread Y stops while hashing v; thread X starts a walk, and stops while hashing u
    # until Y's walk has finished. Neither may see what the other added.
    y_in_v, y_go, x_go = threading.Event(), threading.Event(), threading.Event()
    role = threading.local()

    def on_u():
        if getattr(role, "name", None) == "X":
            y_go.set()
            x_go.wait(10)

    def on_v():
        if getattr(role, "name", None) == "Y":
            y_in_v.set()
            y_go.wait(10)

    u, v = Variable(0, sort=HookSort(on_u)), Variable(1, sort=HookSort(on_v))
    atom = PredicateApp("P", 2, (u, v))
    collector = FreeVariableCollector()
    results = {}

    def thread_y():
        role.name = "Y"
        results["Y"] = collector.visit(atom)
        x_go.set()

    def thread_x():
        role.name = "X"
        y_in_v.wait(10)
        results["X"] = collector.visit(atom)

    threads = [threading.Thread(target=thread_y), threading.Thread(target=thread_x)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == {"Y": {u, v}, "X": {u, v}}


def busy():
    total = 0
    for i in range(20):
        total += i


def test_every_visitor_and_a_model_shared_by_threads():
    s = HookSort(busy)
    x, y = Variable(0, sort=s), Variable(1, sort=s)
    f = Forall(x, Or(Not(PredicateApp("P", 2, (x, FunctionApp("f", 1, (y,), s)))), Exists(y, PredicateApp("Q", 1, (y,)))))
    visitors = [ASTTransformer(), DepthVisitor(), SizeVisitor(), FreeVariableCollector(), ExportVisitor("latex"),
                SubstitutionTransformer({y: Constant("c", sort=s)})]
    expected = [v.visit(f) for v in visitors]
    w0, w1 = World(0, "w0"), World(1, "w1")
    p, q = PredicateApp("p", 0, ()), PredicateApp("q", 0, ())
    model = KripkeModel()
    model.add_relation(w0, w1)
    model.add_valuation(w1, p)
    formulas = [Implies(p, q), Not(Not(p)), Or(p, Not(p)), And(p, Not(q))]
    forced = [model.evaluate(g, w) for g in formulas for w in (w0, w1)]
    failures = []

    def work():
        for _ in range(150):
            got = [v.visit(f) for v in visitors]
            if got != expected:
                failures.append(got)
            if [model.evaluate(g, w) for g in formulas for w in (w0, w1)] != forced:
                failures.append("evaluate")

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=work) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert failures == []
