#!/bin/sh
# Microsoft PowerPoint does not run on this host, so it never has a document open.
printf 'no\n'
