// Placeholder: the data and index file builder lands here.
