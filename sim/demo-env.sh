# Source this file to point the program at the simulated cameras:
#   source sim/demo-env.sh [description.json] [build folder]
# It puts the simulated producer on the GenTL path, names the camera
# description (default: sim/descriptions/demo.json) and a fresh state folder.
_zvsim_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
_zvsim_build="${2:-$_zvsim_root/build}"
export GENICAM_GENTL64_PATH="$_zvsim_build/bin"
export FLASHWRIGHT_SIM_CONFIG="$(realpath "${1:-$_zvsim_root/sim/descriptions/demo.json}")"
export FLASHWRIGHT_SIM_STATE="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-demo-XXXXXX")"
echo "Simulated cameras: $FLASHWRIGHT_SIM_CONFIG"
echo "Camera state and event record: $FLASHWRIGHT_SIM_STATE"
echo "Producer folder: $GENICAM_GENTL64_PATH"
unset _zvsim_root _zvsim_build
