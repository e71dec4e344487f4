# Set-up and everyday commands; each one installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: bootstrap configure build test run clean

bootstrap:
	@bash scripts/bootstrap.sh

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja $(if $(CI),-DQORVEL_WERROR=ON) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

run: build
	@bash scripts/run-demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
