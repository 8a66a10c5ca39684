# Installed layout: see docs/architecture.md.
