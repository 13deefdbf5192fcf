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
        if group["keep"] is None:
            continue
        kept = os.path.join(root, group["keep"])
        if not os.path.isfile(kept):
            problems.append("the plan keeps %s, which is not there" % group["keep"])
        else:
            with open(kept, "rb") as f:
                if hashlib.md5(f.read()).hexdigest() != group["md5"]:
                    problems.append("the plan keeps %s, which holds other bytes" % group["keep"])
        for relative in group["remove"]:
            if relative != group["keep"] and os.path.lexists(os.path.join(root, relative)):
                problems.append("the plan removes %s, which is still there" % relative)
        for stay in group["stays"]:
            if not os.path.isfile(os.path.join(root, stay["path"])):
                problems.append("the plan keeps %s where it is, which is gone" % stay["path"])
    return problems
