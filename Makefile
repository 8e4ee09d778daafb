# Entry points for a newcomer: `make demo` and `make test` do every set-up step themselves.
# Two build trees: build/host holds the native tools (packer, patch builder) and their tests,
# build/win the cross-compiled updater and its Windows tests, run under Wine.
BUILD ?= build
HOST := $(BUILD)/host
WIN := $(BUILD)/win
JOBS ?= 2

.PHONY: all bootstrap host win build test demo bench fuzz screenshots clean

all: build

bootstrap:
	@scripts/bootstrap

host: bootstrap
	@cmake -S tools -B $(HOST) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(HOST) -j$(JOBS)

win: host
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
		-DCMAKE_BUILD_TYPE=Release -DTESSARVANE_HOST_TOOLS=$(abspath $(HOST)) >/dev/null
	@cmake --build $(WIN) -j$(JOBS)

build: win

test: build
	@scripts/run-tests $(BUILD)

demo: build
	@scripts/demo $(BUILD)

bench: build
	@scripts/bench $(BUILD)

fuzz: bootstrap
	@scripts/fuzz $(BUILD)

screenshots: build
	@scripts/screenshots $(BUILD)

clean:
	rm -rf $(BUILD)
