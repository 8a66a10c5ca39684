#pragma once

// Waits the given time on a monotonic clock while the event loop keeps running, so the windows
// stay live and component events are handled during the wait.
void waitLive(int milliseconds);
