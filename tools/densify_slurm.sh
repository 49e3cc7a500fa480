#!/usr/bin/env bash
#SBATCH --job-name=epofill-densify
#SBATCH --array=0-99%20
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --mem=512M
#SBATCH --time=04:00:00
#SBATCH --output=densify-%A_%a.out
#SBATCH --error=densify-%A_%a.err
# Site-specific, enable as needed (remove one "#"):
##SBATCH --partition=batch
##SBATCH --account=PROJECT
#
# The archive recipe of tools/densify_tree.sh as a Slurm job array: the same files, the same output
# names, the same temporary name and rename, the same messages.
#
#   sbatch tools/densify_slurm.sh SRC DST INCREMENT        (from the top of the repository)
#
# SRC and DST must be on a file system every node sees. The array's tasks share the sorted file
# list: task k of an array of n tasks (a contiguous range such as 0-99) takes files k, k+n, k+2n, ...
# Each task runs one epofill at a time on its one CPU (epofill is single-threaded and needs a few
# MiB; the memory limit leaves room for the compressed forms). A file whose output exists already is
# skipped (an output gets its name only when complete), so submitting the same command again redoes
# exactly the files that failed or were not reached. A failed file stops nothing else; the task
# lists it on its error file and ends with status 1, and DST/.densify-slurm/messages/ keeps one
# message per failed file until it succeeds.
# Environment: EPOFILL (default: epofill from PATH), EPOFILL_ARGS (options added to every run),
# DENSIFY_FORM (plain, gz, crx or crx.gz, as for densify_tree.sh), DENSIFY_TREE (default:
# tools/densify_tree.sh under the submission folder). sbatch passes the environment on.
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "Usage: sbatch $0 SRC DST INCREMENT" >&2
  exit 2
fi
src=$(realpath "$1") dst=$2 inc=$3
tree=${DENSIFY_TREE:-${SLURM_SUBMIT_DIR:-.}/tools/densify_tree.sh}
epofill=${EPOFILL:-epofill}
form=${DENSIFY_FORM:-plain}
case $form in plain | gz | crx | crx.gz) ;; *) echo "DENSIFY_FORM must be plain, gz, crx or crx.gz: $form" >&2; exit 2 ;; esac
[ -f "$tree" ] || { echo "densify_tree.sh not found at $tree (set DENSIFY_TREE)" >&2; exit 2; }
[[ $inc =~ ^[1-9][0-9]*$ ]] || { echo "INCREMENT must be a positive whole number of seconds: $inc" >&2; exit 2; }
mkdir -p "$dst" || exit 2
dst=$(realpath "$dst")
state="$dst/.densify-slurm"

task=$((${SLURM_ARRAY_TASK_ID:-0} - ${SLURM_ARRAY_TASK_MIN:-0}))
tasks=${SLURM_ARRAY_TASK_COUNT:-1}
mapfile -d '' files < <(bash "$tree" --list "$src")

done_count=0 skipped=0 failed=0
for ((i = task; i < ${#files[@]}; i += tasks)); do
  rel=${files[i]}
  if [ -e "$dst/$(bash "$tree" --output-name "$rel" "$form")" ]; then
    skipped=$((skipped + 1))
    continue
  fi
  if bash "$tree" --one "$epofill" "$src" "$dst" "$inc" "$form" "$state" $((i + 1)) "$rel" "${EPOFILL_ARGS:-}"; then
    done_count=$((done_count + 1))
  else
    failed=$((failed + 1))
    sed '1s/^/FAILED: /' "$state/messages/$((i + 1))" >&2
  fi
done
echo "task $task of $tasks: $done_count densified, $skipped already there, $failed failed"
[ $failed = 0 ]
