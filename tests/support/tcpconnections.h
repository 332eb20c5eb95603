#pragma once

namespace quorrin::test {

// How many TCP connections to this port on loopback are established, as the system's table
// shows them; -1 when the table cannot be read.
int establishedConnections(int port);

} // namespace quorrin::test
