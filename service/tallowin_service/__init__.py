"""Tallowin's inventory service: receives every PC's software inventory record
over SOAP, keeps it whole, and answers administrators' questions about the fleet."""
