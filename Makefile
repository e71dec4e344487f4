# Set-up and everyday commands; each one installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: bootstrap configure build test run package clean

bootstrap:
	@bash scripts/bootstrap.sh

# Under CI warnings are errors, and debug information is line tables only
# (what a crash report needs; full information doubles the compile time).
configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja $(if $(CI),-DQORVEL_WERROR=ON -DQORVEL_DEBUG_INFO=lines) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

run: build
	@bash scripts/run-demo.sh $(BUILD)

# The Debian package (qorvel_<version>_<arch>.deb in the build folder).
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
