"""The module against the conformance table (tests/data/conformance.tsv), the one
truth that verify/conformance.cpp holds the core to on every machine of
`make test-cross`: each call gives exactly the recorded result or error text."""

import sys

import conformance_table as table


def test_every_call_gives_the_recorded_result():
    mismatches = []
    for number, function, arguments, source, result, second in table.rows():
        got = table.run(function, table.decode_arguments(arguments), table.decode(source))
        if got != (result, second):
            call = f"{function}({source[:60]}, {arguments})"
            mismatches.append(f"line {number}: {call} gave {got}, recorded {(result, second)}")
    assert not mismatches, "\n".join(mismatches[:20])


def test_the_table_holds_every_case_of_its_generator():
    sys.path.insert(0, str(table.TABLE.parents[2] / "tools"))
    import gen_conformance

    expected = "\n".join(gen_conformance.lines()) + "\n"
    assert expected == table.TABLE.read_text(encoding="ascii"), "run tools/gen_conformance.py"
