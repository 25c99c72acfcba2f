"""What the checks against a JSON Schema share: the schema's validator, the
schema itself checked first, and a folder of their own that goes at exit."""
import atexit
import json
import shutil
import tempfile

import jsonschema


def validator_of(schema_path):
    with open(schema_path, encoding="utf-8") as file:
        schema = json.load(file)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def folder_of_our_own():
    folder = tempfile.mkdtemp()
    atexit.register(shutil.rmtree, folder)
    return folder
