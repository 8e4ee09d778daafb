# Entry points for a newcomer: `make demo` and `make test` do every set-up step themselves.
# Build trees: build/host holds the native tools (packer, patch builder) and their tests,
# build/win32 the x86 updater and build/win64 the x64 updater, each with its Windows tests,
# run under Wine in one shared prefix (build/wine-prefix).
# FLAVOURS narrows the updater flavours for local work (FLAVOURS=x64); both by default.
BUILD ?= build
HOST := $(BUILD)/host
JOBS ?= 2
FLAVOURS ?= x86 x64
export FLAVOURS

.PHONY: all bootstrap host win win-x86 win-x64 build test demo bench fuzz screenshots dist reproducible clean

all: build

bootstrap:
	@scripts/bootstrap

host: bootstrap
	@cmake -S tools -B $(HOST) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(HOST) -j$(JOBS)

# One cross build per flavour: TREE, TOOLCHAIN.
define cross_build
	@cmake -S . -B $(BUILD)/$(1) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/$(2).cmake \
		-DCMAKE_BUILD_TYPE=Release -DTESSARVANE_HOST_TOOLS=$(abspath $(HOST)) \
		-DTESSARVANE_WINEPREFIX=$(abspath $(BUILD))/wine-prefix >/dev/null
	@cmake --build $(BUILD)/$(1) -j$(JOBS)
endef

win-x86: host
	$(call cross_build,win32,mingw-i686)

win-x64: host
	$(call cross_build,win64,mingw-x86_64)

win: $(addprefix win-,$(FLAVOURS))

build: win

test: build
	@scripts/run-tests $(BUILD)

demo: host win-x86
	@scripts/demo $(BUILD)

bench: build
	@scripts/bench $(BUILD)

fuzz: bootstrap
	@scripts/fuzz $(BUILD)

# Release bundles in dist/, built afresh without tests; `reproducible` proves that two
# make dist runs of this commit in two folders give the same bytes.
dist: bootstrap
	@scripts/dist $(BUILD)

reproducible: bootstrap
	@scripts/check-reproducible

screenshots: host win-x86
	@scripts/screenshots $(BUILD)

clean:
	rm -rf $(BUILD) dist
