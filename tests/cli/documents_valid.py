#!/usr/bin/env python3
# Every JSON document and record line the tests made, checked against the schemas the packages
# install, by the standard validator.
#   documents_valid.py SCHEMA_FOLDER DOCUMENTS RECORDS
import json, os, sys

from jsonschema import Draft202012Validator

schemas, documents, records = sys.argv[1:4]
for name, path in (("document", documents), ("record", records)):
    schema = json.load(open(os.path.join(schemas, "quorvex-%s.schema.json" % name)))
    Draft202012Validator.check_schema(schema)
    validator = Draft202012Validator(schema)
    lines = open(path, "rb").read().splitlines() if os.path.exists(path) else []
    assert lines, "no %s was made" % name
    for number, line in enumerate(lines, 1):
        errors = [e.message for e in validator.iter_errors(json.loads(line))]
        assert not errors, (path, number, errors, line[:300])
    print("%d %ss valid" % (len(lines), name))
