# The mounts a program in the 32-bit Wine root needs, made in the caller's own mount namespace
# (never the host's): sourced by wine-run.sh and wine-setup.sh, plain sh.
#   wow_bind_all ROOT PROJECT PREFIX
wow_bind_all() {
  _r="$1"
  mount --rbind /proc "$_r/proc"
  mount --rbind /dev "$_r/dev"
  mkdir -p "$_r/tmp/.X11-unix"
  [ -d /tmp/.X11-unix ] && mount --bind /tmp/.X11-unix "$_r/tmp/.X11-unix"
  for _d in "$2" "$3"; do
    mkdir -p "$_d" "$_r$_d"
    mount --bind "$_d" "$_r$_d"
  done
}
