#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
xargs -a "$here/packages.txt" $sudo apt-get install -y -qq --no-install-recommends
