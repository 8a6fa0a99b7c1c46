#!/usr/bin/env bash
# Installs what building and testing morv needs, from Debian's packages.
# Does nothing when everything is present; says what to install when it
# cannot install it itself.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
[ -f /usr/include/boost/numeric/ublas/matrix.hpp ] && [ -f /usr/include/boost/math/distributions/chi_squared.hpp ] || need+=(libboost-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/htslib/vcf.h ] || need+=(libhts-dev)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)        # morv-annotate, morv-qq: gzip result files
[ -f /usr/include/xxhash.h ] || need+=(libxxhash-dev)  # manifests: input checksums
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)  # manifests: JSON
[ -f /usr/include/eigen3/Eigen/QR ] || need+=(libeigen3-dev)  # morv-prepare: covariate regression
[ -f /usr/include/libdeflate.h ] || need+=(libdeflate-dev)  # morv-merge: checks every BGZF block of a shard
command -v gnuplot >/dev/null 2>&1 || need+=(gnuplot-nox)  # morv-qq draws with it
command -v snakemake >/dev/null 2>&1 || need+=(snakemake)  # workflow/: shards on many cores or a cluster
for extra in "$@"; do
  have_pkg "$extra" || need+=("$extra")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "morv needs these Debian packages: ${need[*]}" >&2
  echo "Install them as root with: apt-get update && apt-get install -y ${need[*]}" >&2
  exit 1
fi

echo "Installing: ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${need[@]}" >/dev/null
