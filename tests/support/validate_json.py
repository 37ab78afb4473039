#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Validates JSON messages against the project's schemas with Debian's python3-jsonschema.

Reads lines "SCHEMA<TAB>JSON" on standard input; prints each message that does not validate,
with why, and exits 1 if any did not (2 when the schemas themselves are not valid)."""
import json
import sys

import jsonschema

failed = False
validators = {}
for number, line in enumerate(sys.stdin, 1):
    schema_file, _, message = line.rstrip("\n").partition("\t")
    if schema_file not in validators:
        with open(schema_file, encoding="utf-8") as f:
            schema = json.load(f)
        try:
            jsonschema.Draft202012Validator.check_schema(schema)
        except jsonschema.SchemaError as error:
            sys.exit("%s is no valid schema: %s" % (schema_file, error.message))
        validators[schema_file] = jsonschema.Draft202012Validator(schema)
    errors = [e.message for e in validators[schema_file].iter_errors(json.loads(message))]
    if errors:
        failed = True
        print("line %d, %s: %s: %s" % (number, schema_file.rsplit("/", 1)[-1], message, "; ".join(errors)))
sys.exit(1 if failed else 0)
