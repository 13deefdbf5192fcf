"""What `scan --json` says a run will do, and where a site after the run differs from it."""

import hashlib
import json
import os
import subprocess


def planned(cli, root):
    """The run's plan for each group, as `scan --json` gives it before the run."""
    scan = subprocess.run([cli, "scan", "--json", root], capture_output=True, text=True)
    return json.loads(scan.stdout)["groups"] if scan.returncode == 0 else []


def plan_problems(groups, root):
    """Where the site after the run differs from what the scan said the run would do."""
    problems = []
    for group in groups:
        # Every copy has exactly one fate: moved to keep, removed, or left where it is.
        fates = group["remove"] + [s["path"] for s in group["stays"]]
        if group["move"]:
            fates.append(group["move"])
        if sorted(fates) != sorted(group["copies"]):
            problems.append("the plan of %s gives its copies %s, not one fate each" % (group["name"], fates))
        if group["keep"] in group["remove"] or (group["move"] and group["keep"] == group["move"]):
            problems.append("the plan both keeps and removes %s" % group["keep"])
        if group["keep"] is None:
            continue
        kept = os.path.join(root, group["keep"])
        if not os.path.isfile(kept):
            problems.append("the plan keeps %s, which is not there" % group["keep"])
        else:
            with open(kept, "rb") as f:
                if hashlib.md5(f.read()).hexdigest() != group["md5"]:
                    problems.append("the plan keeps %s, which holds other bytes" % group["keep"])
        gone = group["remove"] + ([group["move"]] if group["move"] else [])
        for relative in gone:
            if relative != group["keep"] and os.path.lexists(os.path.join(root, relative)):
                problems.append("the plan removes %s, which is still there" % relative)
        for stay in group["stays"]:
            if not os.path.isfile(os.path.join(root, stay["path"])):
                problems.append("the plan keeps %s where it is, which is gone" % stay["path"])
    return problems
