#!/usr/bin/env python3
"""Snakemake 7 --cluster-status for SLURM.

Given the job ID that `sbatch --parsable` printed (ID or ID;CLUSTER), prints
exactly one of success, running, failed, and always exits 0: any other answer
makes snakemake stop the whole run.

The state comes from sacct, else from `scontrol show job` (sacct is missing,
accounting is disabled, or it has no record yet). A job that neither knows is
taken as failed: slurmctld forgets a finished job after MinJobAge (300 s by
default), so it ended without our seeing how, and only a rerun is sure to give
its files whole; snakemake removes them, the next call redoes the job.
A command that fails otherwise (slurmctld or slurmdbd not answering) is tried
again; if it keeps failing the answer is running, and snakemake asks again.
MORV_SLURM_STATUS_PAUSE: seconds between tries (default 1).
"""
import os
import re
import subprocess
import sys
import time

TRIES = 3
RUNNING = {"PENDING", "RUNNING", "CONFIGURING", "COMPLETING", "SUSPENDED", "REQUEUED", "REQUEUE_FED",
           "REQUEUE_HOLD", "RESIZING", "SIGNALING", "STAGE_OUT", "STOPPED", "RESV_DEL_HOLD", "SPECIAL_EXIT"}
FAILED = {"FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "OUT_OF_MEMORY", "PREEMPTED", "BOOT_FAIL", "DEADLINE",
          "REVOKED"}

# What a query can tell: a state, that the job is unknown to it, or nothing
# this time (None).
UNKNOWN = object()


def answer(state):
    if state == "COMPLETED":
        return "success"
    if state in FAILED:
        return "failed"
    # The states above end a job; anything else, new names included, may
    # still change.
    return "running"


def run(argv):
    try:
        done = subprocess.run(argv, capture_output=True, text=True, timeout=60)
    except FileNotFoundError:
        return 127, "", "not installed"
    except (OSError, subprocess.SubprocessError) as e:
        return 1, "", str(e)
    return done.returncode, done.stdout, done.stderr


def from_sacct(jobid, cluster):
    status, out, err = run(["sacct", "-j", jobid, "-X", "-n", "-P", "-o", "State"] + cluster)
    if status == 127 or "accounting storage is disabled" in err:
        return UNKNOWN
    if status != 0:
        return None
    states = [line.split()[0] for line in out.splitlines() if line.strip()]
    # "CANCELLED by 123"; a requeued job's latest record comes last.
    return states[-1] if states else UNKNOWN


def from_scontrol(jobid, cluster):
    status, out, err = run(["scontrol", "-o"] + cluster + ["show", "job", jobid])
    if status == 127 or "Invalid job id" in err:
        return UNKNOWN
    found = re.search(r"\bJobState=(\S+)", out) if status == 0 else None
    return found.group(1) if found else None


def ask(query, jobid, cluster):
    pause = float(os.environ.get("MORV_SLURM_STATUS_PAUSE", "1"))
    for attempt in range(TRIES):
        state = query(jobid, cluster)
        if state is not None:
            return state
        if attempt + 1 < TRIES:
            time.sleep(pause)
    return None


def status(argument):
    jobid, _, name = argument.strip().partition(";")
    cluster = ["-M", name] if name else []
    by_sacct = ask(from_sacct, jobid, cluster)
    if by_sacct not in (None, UNKNOWN):
        return answer(by_sacct)
    by_scontrol = ask(from_scontrol, jobid, cluster)
    if by_scontrol not in (None, UNKNOWN):
        return answer(by_scontrol)
    # Unknown to both is an ended job; a query that never answered may yet.
    return "running" if None in (by_sacct, by_scontrol) else "failed"


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: slurm-status.py JOBID")
    print(status(sys.argv[1]))
