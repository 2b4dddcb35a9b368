#!/bin/busybox sh
# The first process of the virtual machine that scripts/wine-run.sh boots on a machine that cannot
# run 32-bit code itself. It lives in the initramfs that scripts/wine-root.sh makes, beside the
# modules listed in /modules/order, the machine's programs in /machine (the dispatcher, the session)
# and the /boot.sh that the host driver adds for each boot (its shares, then the dispatcher).
# The Wine root comes as the first disk, an image of it that the host driver makes (read-only),
# under a writable tmpfs layer; the machine's programs go to its /run/machine, then boot.sh runs.
/bin/busybox --install -s /bin
export PATH=/bin
fail() { echo "vm-init: $*"; poweroff -f; }
mkdir -p /proc /sys /dev
mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev || fail "no /proc, /sys or /dev"
for module in $(cat /modules/order); do insmod "/modules/$module.ko" || fail "module $module did not load"; done
mkdir -p /lower /rw /newroot
for _ in $(seq 100); do [ -b /dev/vda ] && break; sleep 0.05; done  # the disks appear as they are probed
mount -t ext4 -o ro /dev/vda /lower || fail "the root did not mount"
mount -t tmpfs -o mode=0755 rw /rw && mkdir -p /rw/upper /rw/work
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work root /newroot || fail "no overlay on the root"
for dir in proc sys dev tmp run; do mkdir -p "/newroot/$dir"; done
mount -t proc proc /newroot/proc && mount -t sysfs sys /newroot/sys && mount -t devtmpfs dev /newroot/dev
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts && mount -t tmpfs shm /newroot/dev/shm
mount -t tmpfs -o mode=1777 tmp /newroot/tmp && mount -t tmpfs -o mode=0755 run /newroot/run
cp -r /machine /newroot/run/machine && cp /boot.sh /newroot/run/boot.sh || fail "no boot script"
exec switch_root /newroot /bin/sh /run/boot.sh
