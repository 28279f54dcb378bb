#pragma once
// For the test programs that read Evolution Data Server: each runs itself
// again under dbus-run-session, so the service starts by D-Bus activation on
// a bus of its own. Include it in exactly one file of such a program: it
// replaces the process before main.
#include <gio/gio.h>

#include <QtGlobal>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

// glib is built without frame pointers: only the slow unwinder sees which
// library a leak comes from, so that tests/lsan.supp can name GDBus alone.
extern "C" const char *__asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace privatebus {

constexpr const char *kUnderBus = "VTR_EDS_TEST_PRIVATE_BUS";

// Before main: unless already under the private bus (or only listing the
// tests), replace this process by dbus-run-session running it again.
__attribute__((constructor)) inline void runUnderPrivateBus(int argc, char **argv, char **)
{
    if (std::getenv(kUnderBus)) return;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return;
    setenv(kUnderBus, "1", 1);
    std::vector<char *> args{const_cast<char *>("dbus-run-session"), const_cast<char *>("--")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "Cannot start a private session bus: dbus-run-session: %s\n", std::strerror(errno));
    std::fflush(stderr);
    _exit(1);
}

struct GErrorText
{
    GError *error = nullptr;
    ~GErrorText() { g_clear_error(&error); }
    std::string text() const { return error ? error->message : "no reason given"; }
};

// Services the bus starts from now on see this process's private home.
inline void exportPrivateHomeToBus()
{
    GErrorText e;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e.error);
    ASSERT_TRUE(bus) << "No private session bus: " << e.text();
    GVariantBuilder env;
    g_variant_builder_init(&env, G_VARIANT_TYPE("a{ss}"));
    for (const char *var : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        g_variant_builder_add(&env, "{ss}", var, qgetenv(var).constData());
    g_variant_builder_add(&env, "{ss}", "GSETTINGS_BACKEND", "memory");
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "UpdateActivationEnvironment",
                                                  g_variant_new("(a{ss})", &env), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                  -1, nullptr, &e.error);
    if (reply) g_variant_unref(reply);
    g_object_unref(bus);
    ASSERT_TRUE(reply) << "The private bus refused the environment: " << e.text();
}

} // namespace privatebus
