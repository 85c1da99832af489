# Vantrel: set-up, build and test.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
# Further options for CMake's configure step (CI adds -DCMAKE_COMPILE_WARNING_AS_ERROR=ON).
CMAKE_ARGS ?=

# Debian packages the build, the tests and the program need. qt6-base-dev brings Qt Widgets,
# Network and Test with the platform plugins (xcb for the desktop, offscreen for the tests and
# the screenshots); a font package gives offscreen rendering its glyphs.
PACKAGES := cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev libpoco-dev \
            libsqlite3-dev python3-pyftpdlib python3-openssl openssl vsftpd fonts-dejavu-core

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build test run install clean

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure --timeout 600 -j$$(nproc)

# Builds and starts the program from the build folder; it finds its help pages in docs/.
run: build
	@$(BUILD_DIR)/app/vantrel

# The program, its help pages, icon and desktop entry under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR)
