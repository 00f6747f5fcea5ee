"""Unpickling crafted byte strings: each gives an object or an exception, never a crash.

    python fuzz/unpickle.py [--cases N | --seconds S] [--seed K] [--last FILE]

Byte strings come from two sources. Pickles written opcode by opcode call the
library's classes and functions (through REDUCE, NEWOBJ, NEWOBJ_EX and BUILD)
with hostile arguments and states: wrong types, huge and negative numbers,
lone surrogates, shared and self-referencing objects, objects made by
__new__ alone. Valid pickles of the library's objects, in every protocol, get
bytes flipped, inserted, deleted, repeated and cut off. Each loaded object is
then used through every method and attribute it has and every function of
the library that takes one argument.

Globals resolve only to the library's own classes and functions and a few
plain builtins, so a mutated name cannot reach anything else. An exception
is a clean outcome, except SystemError, which means the library broke the
interpreter's rules (an error returned with no exception set, a bad call). A
crash kills the process: the case's bytes are in FILE (--last) in hex.
"""

import argparse
import copy
import io
import math
import os
import pickle
import random
import resource
import struct
import sys
import time

from zelqor.constructive import kripke
from zelqor.core import ast, signature, sorts, substitutions, visitors
from zelqor.prover import clausifier
from zelqor.sol import ast_ext

MODULES = [ast, sorts, signature, substitutions, visitors, clausifier, kripke, ast_ext]
MODULE_NAMES = {module.__name__ for module in MODULES}
BUILTINS = {"frozenset", "set", "dict", "list", "tuple", "int", "str", "bool", "float", "object", "slice"}
COPYREG = {"__newobj__", "__newobj_ex__", "_reconstructor"}


def library_objects(kind):
    """The library's classes (kind=type) or functions (kind=callable), by module and name."""
    found = []
    for module in MODULES:
        for name, value in sorted(vars(module).items()):
            if name.startswith("__") or getattr(value, "__module__", None) not in MODULE_NAMES:
                continue
            if isinstance(value, type) if kind is type else (callable(value) and not isinstance(value, type)):
                found.append((value.__module__, name, value))
    return found


CLASSES = library_objects(type)
FUNCTIONS = library_objects(callable)


class Unpickler(pickle.Unpickler):
    def find_class(self, module, name):
        allowed = ((module == "builtins" and name in BUILTINS) or (module == "copyreg" and name in COPYREG)
                   or (module in MODULE_NAMES and "." not in name and not name.startswith("__")))
        if not allowed:
            raise pickle.UnpicklingError(f"global {module}.{name} is not the library's")
        found = super().find_class(module, name)
        if module in MODULE_NAMES and getattr(found, "__module__", None) not in MODULE_NAMES:
            raise pickle.UnpicklingError(f"{module}.{name} is imported there, not the library's")
        return found


def load(data):
    return Unpickler(io.BytesIO(data)).load()


# ---- pickles written opcode by opcode ----------------------------------------------------------

class Writer:
    """Protocol 4 opcodes for values, globals and calls; objects made here can be referenced again."""

    def __init__(self):
        self.out = bytearray(b"\x80\x04")
        self.memo = 0

    def text(self, value):
        raw = value.encode("utf-8", "surrogatepass")
        self.out += b"X" + struct.pack("<I", len(raw)) + raw

    def value(self, value):
        if value is None:
            self.out += b"N"
        elif value is True or value is False:
            self.out += b"\x88" if value else b"\x89"
        elif isinstance(value, int):
            raw = value.to_bytes((value.bit_length() + 8) // 8 or 1, "little", signed=True)
            self.out += b"\x8a" + bytes([len(raw)]) + raw
        elif isinstance(value, float):
            self.out += b"G" + struct.pack(">d", value)
        elif isinstance(value, str):
            self.text(value)
        elif isinstance(value, bytes):
            self.out += b"B" + struct.pack("<I", len(value)) + value
        else:
            raise TypeError(value)

    def global_(self, module, name):
        self.text(module)
        self.text(name)
        self.out += b"\x93"

    def remember(self):
        """Memoizes the top of the stack; returns its index for `recall`."""
        self.out += b"\x94"
        self.memo += 1
        return self.memo - 1

    def recall(self, index):
        self.out += b"j" + struct.pack("<I", index)

    def finish(self):
        return bytes(self.out + b".")


INTERESTING_INTS = [0, 1, -1, 2, 7, 255, 256, 2**31 - 1, 2**31, -2**31 - 1, 2**63 - 1, 2**63, -2**63 - 1, 2**64,
                    10**30, -10**30]
INTERESTING_TEXTS = ["", "P", "x", "f", "w0", "sk_c1", "INDIVIDUAL", "PREDICATE", "infix", "latex", "\ud800",
                     "\x00", "名", "a b", "P" * 300, "Ind", "name", "args", "body"]
INTERESTING_FLOATS = [0.0, -0.0, 1.5, math.nan, math.inf, -math.inf]


class Generator:
    """Random pickles that call the library with hostile arguments."""

    def __init__(self, rng):
        self.rng = rng

    def pickle(self):
        writer = Writer()
        self.any(writer, depth=0, made=[])
        return writer.finish()

    def any(self, writer, depth, made):
        """Pushes one value; `made` holds memo indexes of library objects built so far."""
        rng = self.rng
        roll = rng.random()
        if made and roll < 0.08:
            writer.recall(rng.choice(made))
        elif depth > 4 or roll < 0.35:
            self.plain(writer)
        elif roll < 0.55:
            self.container(writer, depth, made)
        else:
            self.call(writer, depth, made)

    def plain(self, writer):
        rng = self.rng
        kind = rng.randrange(6)
        if kind == 0:
            writer.value(rng.choice(INTERESTING_INTS + [rng.randrange(-5, 50)]))
        elif kind == 1:
            writer.value(rng.choice(INTERESTING_TEXTS))
        elif kind == 2:
            writer.value(rng.choice([None, True, False]))
        elif kind == 3:
            writer.value(rng.choice(INTERESTING_FLOATS))
        elif kind == 4:
            writer.value(bytes(rng.randrange(256) for _ in range(rng.randrange(4))))
        else:
            module, name, _ = rng.choice(CLASSES + FUNCTIONS)
            writer.global_(module, name)

    def items(self, writer, depth, made, count):
        for _ in range(count):
            self.any(writer, depth + 1, made)

    def container(self, writer, depth, made):
        rng = self.rng
        count = rng.choice([0, 1, 1, 2, 2, 3, 5])
        kind = rng.randrange(5)
        if kind == 0:
            writer.out += b"("
            self.items(writer, depth, made, count)
            writer.out += b"t"
        elif kind == 1:
            writer.out += b"]("
            self.items(writer, depth, made, count)
            writer.out += b"e"
        elif kind == 2:
            writer.out += b"}("
            self.items(writer, depth, made, 2 * count)
            writer.out += b"u"
        elif kind == 3:
            writer.out += b"("
            self.items(writer, depth, made, count)
            writer.out += b"\x91"  # frozenset
        else:
            writer.out += b"\x8f("
            self.items(writer, depth, made, count)
            writer.out += b"\x90"  # set

    def call(self, writer, depth, made):
        rng = self.rng
        module, name, target = rng.choice(CLASSES + FUNCTIONS if rng.random() < 0.2 else CLASSES)
        how = rng.randrange(4) if isinstance(target, type) else 0
        if how == 3:  # copyreg's reconstructor: base.__new__(cls, state) then base.__init__
            writer.global_("copyreg", "_reconstructor")
            writer.out += b"("
            writer.global_(module, name)
            base = rng.choice([c for c in CLASSES if isinstance(c[2], type)] + [("builtins", "object", object)])
            writer.global_(base[0], base[1])
            self.any(writer, depth + 1, made)
            writer.out += b"tR"
        else:
            writer.global_(module, name)
            writer.out += b"("
            self.items(writer, depth, made, rng.choice([0, 1, 2, 2, 3, 3, 4]))
            writer.out += b"t"
            if how == 0:
                writer.out += b"R"  # REDUCE: the class or function called
            elif how == 1:
                writer.out += b"\x81"  # NEWOBJ: cls.__new__(cls, *args), no __init__
            else:
                writer.out += b"}("  # NEWOBJ_EX with keyword arguments
                for _ in range(rng.randrange(3)):
                    writer.value(rng.choice(["sort", "kind", "id", "name", "return_sort", "positive", "literals",
                                             "worlds", "relations", "valuations", "notation", "mapping"]))
                    self.any(writer, depth + 1, made)
                writer.out += b"u\x92"
        index = writer.remember()
        if rng.random() < 0.3:  # BUILD: a state set on the object, possibly naming the object itself
            writer.recall(index)
            made.append(index)
            self.state(writer, depth, made)
            writer.out += b"b0"  # BUILD, then drop the second copy
        made.append(index)

    def state(self, writer, depth, made):
        rng = self.rng
        if rng.random() < 0.3:
            self.any(writer, depth + 1, made)
            return
        names = ["worlds", "relations", "valuations", "literals", "atom", "positive", "operand", "left", "right",
                 "body", "variable", "args", "name", "id", "sort", "_hash_cache", "_free_vars", "mapping",
                 "notation", "__dict__", "x"]
        writer.out += b"}("
        for _ in range(rng.randrange(1, 4)):
            writer.value(rng.choice(names))
            self.any(writer, depth + 1, made)
        writer.out += b"u"
        if rng.random() < 0.3:  # (dict, slots) form
            writer.out += b"}("
            writer.value(rng.choice(names))
            self.any(writer, depth + 1, made)
            writer.out += b"u\x86"


# ---- valid pickles with bytes changed ----------------------------------------------------------

def seed_objects():
    x, y = ast.Variable(0), ast.Variable(1, sort=sorts.Nat)
    fx = ast.FunctionApp("f", 1, (x,))
    p, q = ast.PredicateApp("P", 2, (x, fx)), ast.PredicateApp("Q", 1, (y,))
    tree = ast.Forall(x, ast.Iff(ast.Implies(p, ast.Or(q, ast.Not(p))),
                                 ast.Exists(y, ast.And(ast.Equality(x, ast.Constant("c")), q))))
    literal = clausifier.Literal(p, False)
    model = kripke.KripkeModel()
    w0, w1 = kripke.World(0, "w0"), kripke.World(1, "w1")
    model.add_world(w0)
    model.add_world(w1)
    model.add_relation(w0, w1)
    model.add_valuation(w1, q)
    sig = signature.Signature()
    second = ast_ext.ForallPred(ast_ext.PredicateVariable("X", 1), tree)
    return [tree, p, fx, x, y, literal, clausifier.Clause(frozenset([literal, clausifier.Literal(q)])), w0, model,
            sig, second, sorts.Nat, ast.VariableKind.PREDICATE, [tree, literal, w0]]


def seed_pickles():
    seeds = []
    for value in seed_objects():
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            try:
                seeds.append(pickle.dumps(value, protocol))
            except Exception:
                pass  # an object that does not pickle in this protocol
    return seeds


def mutate(rng, data, seeds):
    data = bytearray(data)
    for _ in range(rng.choice([1, 1, 2, 3, 8])):
        where = rng.randrange(len(data) + 1)
        kind = rng.randrange(7)
        if kind == 0 and data:
            data[min(where, len(data) - 1)] ^= 1 << rng.randrange(8)
        elif kind == 1 and data:
            data[min(where, len(data) - 1)] = rng.choice([0, 1, 0x7F, 0x80, 0xFF, rng.randrange(256)])
        elif kind == 2:
            data[where:where] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 5)))
        elif kind == 3:
            del data[where:where + rng.randrange(1, 9)]
        elif kind == 4:
            piece = data[where:where + rng.randrange(1, 17)]
            data[where:where] = piece * rng.randrange(1, 4)
        elif kind == 5:
            del data[where:]
        else:
            other = rng.choice(seeds)
            cut = rng.randrange(len(other))
            data[where:] = other[cut:]
    return bytes(data)


# ---- using what was loaded ---------------------------------------------------------------------

ONE_ARGUMENT = [fn for _, _, fn in FUNCTIONS] + [
    visitors.ExportVisitor("infix").visit, visitors.ExportVisitor("latex").visit, visitors.SizeVisitor().visit,
    visitors.DepthVisitor().visit, visitors.FreeVariableCollector().visit, visitors.ASTTransformer().visit,
    visitors.SubstitutionTransformer({ast.Variable(0): ast.Constant("c")}).visit,
]
SKIPPED_METHODS = {"mro"}


def use(value, depth=0):
    """Every cheap thing one can do with a loaded value; each exception is caught and ignored."""
    attempts = [hash, repr, str, lambda v: v == v, lambda v: v != copy.copy(v), copy.deepcopy,
                lambda v: load(pickle.dumps(v)), bool]
    for attempt in attempts:
        tolerate(attempt, value)
    for function in ONE_ARGUMENT:
        tolerate(function, value)
    if getattr(type(value), "__module__", None) in MODULE_NAMES:
        use_members(value)
    elif isinstance(value, (list, tuple, set, frozenset, dict)) and depth < 2:
        for item in list(value.items() if isinstance(value, dict) else value)[:4]:
            use(item, depth + 1)


def use_members(value):
    """The library object's methods and attributes, with no argument and with a few plausible ones."""
    for name in tolerate(dir, value) or ():  # a state can give the object names that are not text
        if not isinstance(name, str) or name.startswith("__") or name in SKIPPED_METHODS:
            continue
        member = tolerate(getattr, value, name)
        if callable(member) and not isinstance(value, type):
            tolerate(member)
            tolerate(member, value)
            tolerate(member, ast.PredicateApp("P", 0, ()), kripke.World(0, "w0"))
            tolerate(member, {ast.Variable(0): ast.Constant("c")})
    if isinstance(value, kripke.KripkeModel):
        for world in list(tolerate(lambda: value.worlds) or [])[:3]:
            tolerate(value.evaluate, ast.Not(ast.Not(ast.PredicateApp("Q", 1, (ast.Variable(1),)))), world)
            tolerate(value.accessible_worlds, world)
            tolerate(value.add_valuation, world, ast.PredicateApp("R", 0, ()))


class Broken(Exception):
    """The library broke the interpreter's rules."""


def tolerate(fn, *args):
    try:
        return fn(*args)
    except SystemError as error:
        raise Broken(f"SystemError from {getattr(fn, '__qualname__', fn)}: {error}") from error
    except Exception:
        return None


# ---- the run -----------------------------------------------------------------------------------

def run_case(data):
    try:
        value = load(data)
    except SystemError as error:
        raise Broken(f"SystemError while loading: {error}") from error
    except Exception:
        return "refused"
    use(value)
    return "loaded"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cases", type=int, default=0, help="stop after this many cases")
    parser.add_argument("--seconds", type=float, default=0, help="stop after this long")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--last", help="file that holds the bytes of the case being run, in hex")
    parser.add_argument("--memory", type=int, default=2048, help="address space allowed, in MiB (0: no limit)")
    options = parser.parse_args()
    if options.memory and "asan" not in os.environ.get("LD_PRELOAD", ""):
        # A memo index or a length read from a mutated pickle can ask for
        # gigabytes; the interpreter answers MemoryError within the limit.
        resource.setrlimit(resource.RLIMIT_AS, (options.memory << 20, resource.RLIM_INFINITY))
    if not options.cases and not options.seconds:
        options.cases = 2000
    rng = random.Random(options.seed)
    generator, seeds = Generator(rng), seed_pickles()
    last = open(options.last, "w") if options.last else None
    counts = {"refused": 0, "loaded": 0}
    start = time.monotonic()
    case = 0
    while (not options.cases or case < options.cases) and \
            (not options.seconds or time.monotonic() - start < options.seconds):
        data = generator.pickle() if case % 2 == 0 else mutate(rng, rng.choice(seeds), seeds)
        if last:
            last.seek(0)
            last.write(data.hex())
            last.truncate()
            last.flush()
        try:
            counts[run_case(data)] += 1
        except Broken as error:
            print(f"case {case} ({data.hex()}): {error}", file=sys.stderr)
            return 1
        case += 1
    print(f"{case} cases in {time.monotonic() - start:.1f}s: {counts['loaded']} loaded and used, "
          f"{counts['refused']} refused")
    return 0


if __name__ == "__main__":
    sys.exit(main())
