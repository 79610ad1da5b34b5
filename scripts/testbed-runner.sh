# shellcheck shell=bash
# The start that every runner of the test bed shares (scripts/run-tests.sh, run-bench.sh,
# screenshot.sh): the build and the Wine prefix this host runs, and a private X display and
# sound server that end, with all else the test bed started, when the runner's shell exits.
# Each runner first changes to the top of the tree.
#
#   source scripts/testbed-runner.sh
#   runner_select <wine-prefix> <build-dir> <log-dir>  # sets PREFIX, BUILD_DIR, TESTBED_LOGDIR
#   runner_start_testbed <pulse|pipewire> [WxHxD]       # in the shell (or subshell) to stop it

# shellcheck source=scripts/testbed.sh
source scripts/testbed.sh
# shellcheck source=scripts/winearch.sh
source scripts/winearch.sh

runner_select() {
    local prefix
    prefix=$(realpath -m "$1")
    winearch_select "$2"
    # shellcheck disable=SC2034 # for the caller
    BUILD_DIR=$WINE_BUILD_DIR
    # shellcheck disable=SC2034 # for the caller
    PREFIX=$(winearch_prefix "$prefix")
    export TESTBED_LOGDIR=$3
    mkdir -p "$TESTBED_LOGDIR"
}

runner_start_testbed() {
    local server=$1
    shift
    trap testbed_stop EXIT
    testbed_start_xvfb "$@"
    "testbed_start_$server" "$TESTBED_LOGDIR/$server"
}
