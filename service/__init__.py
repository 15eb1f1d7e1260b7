"""The web service the programs report to: install and uninstall reports,
add-on ratings and the update check. A WSGI application (see app.make_app)."""
