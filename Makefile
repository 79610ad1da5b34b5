# Tickora: cross-built for 32-bit Windows, run and tested under Wine.
#   make        build build/win32/tickora.exe
#   make run    build and start the program under Wine
#   make test   build and run every test (unit, window and end-to-end)
#   make bench  timing and resource benchmarks, written to docs/BENCHMARKS.md
#   make dist   the Windows download, dist/tickora-<version>-win32.zip, and its SHA256SUMS
#   make install / make uninstall   the program, a `tickora` launcher (Wine), menu entry and
#               icons under PREFIX (default /usr/local); DESTDIR is honoured
#   make screenshot   docs/screenshot.png, the panel on a desktop with a window manager
#   make clean   the build tree and dist/;  make clean-cache   the emulated i386 PC's images, fresh-root.sh's bases

BUILD_DIR := build/win32
# The x86-64 build of the same sources, beside it: installed for hosts that cannot run i386 code.
WIN64_DIR = $(dir $(BUILD_DIR))win64
# The test bed's prefix has a Wine virtual desktop (no window manager there); make run's has
# none, so that the panel is a window of the user's own desktop.
WINE_PREFIX := $(CURDIR)/build/wineprefix
RUN_PREFIX := $(CURDIR)/build/wineprefix-run
# Benchmarks get a prefix of their own: a test run in the same prefix would share its
# wineserver and desktop, put its clicks into the recordings and end the other's Wine.
BENCH_PREFIX := $(CURDIR)/build/wineprefix-bench
EXE := $(BUILD_DIR)/tickora.exe
DIST_DIR := dist
# Any date the build embeds (the compiler's, the zip's) is the commit's, so that two builds
# of one commit give the same bytes; a tree without its Git history gets 1980-01-01.
ifeq ($(origin SOURCE_DATE_EPOCH),undefined)
SOURCE_DATE_EPOCH := $(or $(shell git -C $(CURDIR) log -1 --format=%ct 2>/dev/null),315532800)
endif
export SOURCE_DATE_EPOCH

PREFIX ?= /usr/local
DESTDIR ?=
# Directories of our own; the others are shared with the rest of the system.
LIB_DIR := $(DESTDIR)$(PREFIX)/lib/tickora
DOC_DIR := $(DESTDIR)$(PREFIX)/share/doc/tickora
ICON_SIZES := 16 32
ICON_DIR := build/icons
ICONS := $(foreach s,$(ICON_SIZES),$(ICON_DIR)/$(s)x$(s)/apps/tickora.png)
INSTALLED_ICONS := $(foreach s,$(ICON_SIZES),\
    $(DESTDIR)$(PREFIX)/share/icons/hicolor/$(s)x$(s)/apps/tickora.png)
INSTALLED := $(DESTDIR)$(PREFIX)/bin/tickora \
    $(LIB_DIR)/tickora.exe $(LIB_DIR)/tickora-x86-64.exe $(LIB_DIR)/run-env.sh \
    $(LIB_DIR)/wineprefix.sh $(LIB_DIR)/host-runs-i386 $(LIB_DIR)/wine64/wine $(LIB_DIR)/wine64/wine-stable \
    $(DESTDIR)$(PREFIX)/share/applications/tickora.desktop \
    $(DOC_DIR)/LICENSE $(INSTALLED_ICONS)

.PHONY: all deps configure build program program64 run test bench dist install uninstall screenshot clean clean-cache

all: build

# What `deps` installs depends on the goals: building needs the tool chain, running adds Wine,
# and only the goals that use the test bed add it (X, sound servers, the emulated i386 PC).
GOALS := $(or $(MAKECMDGOALS),all)
DEPS_LEVEL := $(if $(filter test bench screenshot,$(GOALS)),test,$(if $(filter run install,$(GOALS)),run,build))

deps:
	@scripts/install-deps.sh --for "make $(GOALS)" $(DEPS_LEVEL)

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j2 -- --no-print-directory

# Only the program: the first start should not wait for the tests and benchmarks to build.
program: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j2 --target tickora -- --no-print-directory

run: program
	@scripts/run-app.sh $(RUN_PREFIX) $(EXE)

test: build
	@scripts/run-tests.sh $(WINE_PREFIX) $(BUILD_DIR)

bench: build
	@scripts/run-bench.sh $(BENCH_PREFIX) $(BUILD_DIR)

dist: build
	@python3 packaging/make_dist.py $(EXE) $(DIST_DIR)

# The theme's icons are the program's own, taken from the .ico it is built with.
$(ICONS) &: res/tickora.ico packaging/ico_to_png.py
	python3 packaging/ico_to_png.py res/tickora.ico $(ICON_DIR) tickora $(ICON_SIZES)

$(WIN64_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(WIN64_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	      -DCMAKE_BUILD_TYPE=Release >/dev/null

program64: deps $(WIN64_DIR)/CMakeCache.txt
	cmake --build $(WIN64_DIR) -j2 --target tickora -- --no-print-directory

install: build program64 $(ICONS)
	install -D -m 755 packaging/tickora $(DESTDIR)$(PREFIX)/bin/tickora
	install -D -m 644 $(EXE) $(LIB_DIR)/tickora.exe
	install -D -m 644 $(WIN64_DIR)/tickora.exe $(LIB_DIR)/tickora-x86-64.exe
	install -D -m 755 scripts/wine64/wine $(LIB_DIR)/wine64/wine
	install -D -m 755 scripts/host-runs-i386 $(LIB_DIR)/host-runs-i386
	ln -sf wine $(LIB_DIR)/wine64/wine-stable
	install -D -m 644 scripts/run-env.sh $(LIB_DIR)/run-env.sh
	install -D -m 755 scripts/wineprefix.sh $(LIB_DIR)/wineprefix.sh
	install -D -m 644 packaging/tickora.desktop $(DESTDIR)$(PREFIX)/share/applications/tickora.desktop
	install -D -m 644 LICENSE $(DOC_DIR)/LICENSE
	$(foreach s,$(ICON_SIZES),install -D -m 644 $(ICON_DIR)/$(s)x$(s)/apps/tickora.png \
	    $(DESTDIR)$(PREFIX)/share/icons/hicolor/$(s)x$(s)/apps/tickora.png &&) true

# Removes the files install wrote, then the directories it may have made that are left
# empty, deepest first; PREFIX, bin, lib and share stay.
uninstall:
	rm -f $(INSTALLED)
	@for d in $(LIB_DIR)/wine64 $(LIB_DIR) $(DOC_DIR) $(foreach s,$(ICON_SIZES),\
	    $(DESTDIR)$(PREFIX)/share/icons/hicolor/$(s)x$(s)/apps \
	    $(DESTDIR)$(PREFIX)/share/icons/hicolor/$(s)x$(s)) \
	    $(addprefix $(DESTDIR)$(PREFIX)/share/,icons/hicolor icons applications doc); do \
	    [ ! -d "$$d" ] || rmdir --ignore-fail-on-non-empty "$$d"; \
	done

screenshot: build
	@scripts/install-deps.sh --for "make screenshot" test openbox
	@scripts/screenshot.sh $(CURDIR)/build/wineprefix-shot $(BUILD_DIR)

# The emulated i386 PC's disk images (scripts/pe32vm), kept between runs outside the tree.
PE32_CACHE := $(or $(TICKORA_PE32_CACHE),/var/cache/tickora-pe32)
ROOTS_CACHE := $(or $(TICKORA_ROOTS_CACHE),/var/cache/tickora-roots)

clean:
	rm -rf build $(DIST_DIR)

clean-cache:
	rm -rf "$(PE32_CACHE)" "$(ROOTS_CACHE)"
