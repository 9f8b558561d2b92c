// The option-panel rules (placeholder until the panel lands).
