// implemented with the DSP helpers
