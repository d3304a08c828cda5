// isapi-devhost: serves an ISAPI extension over HTTPS on Linux, as IIS would
// on Windows, for development, tests and measurements.
#include "devkit/host/extension_module.h"
#include "devkit/host/options.h"
#include "devkit/host/server.h"

#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <iostream>

namespace {

int Run(const Options& options)
{
    // Declared first, so that it is terminated and unloaded only after the
    // workers that call it are gone.
    ExtensionModule extension(options.extension);
    std::cerr << "isapi-devhost: started " << extension.Start() << std::endl;

    // This thread waits for the signals; the connections, their accepting
    // included, live on the server's network threads.
    boost::asio::io_context signalsIo(1);
    boost::asio::thread_pool workers(options.threads);
    Server server(options, extension, workers);

    boost::asio::signal_set signals(signalsIo, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (error)
            return;
        std::cerr << "isapi-devhost: stopping once the running requests are answered" << std::endl;
        server.Stop();
    });
    server.Start();

    signalsIo.run();
    server.Join();
    workers.join();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // A vanished client or log reader is an error on that write, not the end of the host.
    std::signal(SIGPIPE, SIG_IGN);

    CommandLine commandLine = ParseCommandLine(argc, argv);
    if (const int* exitCode = std::get_if<int>(&commandLine))
        return *exitCode;
    try {
        return Run(std::get<Options>(commandLine));
    } catch (const std::exception& error) {
        std::cerr << "isapi-devhost: " << error.what() << std::endl;
        return 1;
    }
}
